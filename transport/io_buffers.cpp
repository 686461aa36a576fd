#include "transport/io_buffers.h"

EIdNotEnoughDataInBuffer::EIdNotEnoughDataInBuffer() : EIdException("Nicht genügend Daten im Puffer.") {}

std::string TIdManagedBuffer::Extract(size_t count) {
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
    std::string taken = bytes_.substr(offset_, count);
    offset_ += count;
    if (offset_ == bytes_.size()) {
        Clear();
    } else if (offset_ >= kCompactAfter) {
        bytes_.erase(0, offset_);
        offset_ = 0;
    }
    return taken;
}

void TIdManagedBuffer::Clear() {
    bytes_.clear();
    offset_ = 0;
}

void TIdSimpleBuffer::Remove(size_t count) {
    if (count > bytes_.size()) throw EIdNotEnoughDataInBuffer();
    bytes_.erase(0, count);
}
