#pragma once
// Byte buffers of the line-oriented connection: the input buffer that hands out received bytes line by
// line (TIdManagedBuffer) and a plain resizable buffer (TIdSimpleBuffer) for the receive scratch space
// and the output buffer.

#include "transport/id_exception.h"

#include <cstddef>
#include <string>
#include <string_view>

class EIdNotEnoughDataInBuffer : public EIdException {
public:
    EIdNotEnoughDataInBuffer();
};

// Received bytes not yet consumed. Taking bytes advances an offset instead of moving the rest, so that
// handing out one short line after another from a large buffer does not copy the buffer each time.
class TIdManagedBuffer {
public:
    // The unconsumed bytes.
    size_t Size() const { return bytes_.size() - offset_; }
    std::string_view View() const { return std::string_view(bytes_).substr(offset_); }

    void Append(const char* data, size_t count) { bytes_.append(data, count); }
    // Removes the first count unconsumed bytes and returns them; EIdNotEnoughDataInBuffer when fewer are
    // there.
    std::string Extract(size_t count);
    void Clear();
    // Position (from the first unconsumed byte) of the first needle at or after from; npos when none.
    size_t Find(std::string_view needle, size_t from) const { return View().find(needle, from); }

private:
    // Once this many bytes are consumed, the rest moves to the front and the offset returns to 0.
    static constexpr size_t kCompactAfter = 32768;

    std::string bytes_;
    size_t offset_ = 0;
};

// A byte array whose removals move the rest to the front at once.
class TIdSimpleBuffer {
public:
    size_t Size() const { return bytes_.size(); }
    char* Data() { return bytes_.data(); }
    const char* Data() const { return bytes_.data(); }

    void SetSize(size_t size) { bytes_.resize(size); }
    void Append(const char* data, size_t count) { bytes_.append(data, count); }
    // Removes the first count bytes; EIdNotEnoughDataInBuffer when fewer are there.
    void Remove(size_t count);
    void Clear() { bytes_.clear(); }

private:
    std::string bytes_;
};
