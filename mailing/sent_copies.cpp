#include "mailing/sent_copies.h"

#include "mailing/run_journal.h"

#include <exception>

namespace {

constexpr const char* kNotKept = "Die Mail wurde nicht mitgeschrieben.";
constexpr const char* kSpoolUnreadable = "Die Kopie ist im Zwischenspeicher nicht mehr lesbar.";
constexpr const char* kMaybeStored =
    " Die Verbindung brach nach dem Senden der Kopie ab: sie liegt vielleicht doch im Ordner und wird nicht "
    "noch einmal abgelegt.";
constexpr const char* kGivenUp = "nicht versucht: nach zwei Fehlern in Folge legt Postira in diesem Durchlauf keine "
                                 "Kopien mehr ab";
constexpr const char* kNotInTime = "beim Ende des Durchlaufs noch nicht abgelegt";

// Failures in a row after which no more copies are tried: the first gets one new connection.
constexpr int kMostFailures = 2;

}  // namespace

SentCopies::SentCopies(SentCopyAccount account, ImapClientFactory clients, const std::string& listPath,
                       RunJournal& journal)
    : session_(std::move(account), std::move(clients), kRunImapLimits), spool_(listPath), journal_(journal) {
    for (const SpooledCopy& copy : spool_.Waiting())
        waiting_.push_back({copy.file, copy.lineNumber, copy.address, copy.size});
    thread_ = std::thread([this] { Work(); });
}

SentCopies::~SentCopies() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

std::optional<std::string> SentCopies::Spool(int lineNumber, const std::string& address, std::string message,
                                             std::time_t sentAt) {
    const Job job{"", lineNumber, address, 0};
    if (message.empty()) {
        AddMissing(job, kNotKept);
        return std::nullopt;
    }
    try {
        return spool_.Write({"", sentAt, lineNumber, address, 0, std::move(message)});
    } catch (const std::exception& error) {
        AddMissing(job, error.what());
        return std::nullopt;
    }
}

void SentCopies::Queue(const std::string& file, const std::function<void()>& pause) {
    const std::optional<SpooledCopy> copy = spool_.Read(file, false);
    const Job job{file, copy ? copy->lineNumber : 0, copy ? copy->address : "", copy ? copy->size : 0};
    std::unique_lock lock(mutex_);
    while (waiting_.size() >= kMaxWaiting && !ended_) {
        lock.unlock();
        pause();
        lock.lock();
    }
    waiting_.push_back(job);
    lock.unlock();
    changed_.notify_all();
}

void SentCopies::Work() {
    try {
        session_.Open();
    } catch (const std::exception&) {
        // The first copy tries again on a new connection and names the reason if that fails too.
        failures_ = 1;
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) break;
        const std::vector<Job> jobs = TakeBatch();
        working_ = jobs.size();
        lock.unlock();
        Copy(jobs);
        lock.lock();
        working_ = 0;
        done_ += jobs.size();
        changed_.notify_all();
    }
    for (const Job& job : waiting_) missing_.push_back({job.lineNumber, job.address, kNotInTime});
    waiting_.clear();
    lock.unlock();
    session_.Close();
    lock.lock();
    ended_ = true;
    changed_.notify_all();
}

std::vector<SentCopies::Job> SentCopies::TakeBatch() {
    // The session is this thread's alone; the lock held guards the queue.
    const size_t most = session_.TakesSeveral() ? kMostPerAppend : 1;
    std::vector<Job> jobs;
    size_t bytes = 0;
    while (!waiting_.empty() && jobs.size() < most &&
           (jobs.empty() || bytes + waiting_.front().size <= kMostBytesPerAppend)) {
        bytes += waiting_.front().size;
        jobs.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
    }
    return jobs;
}

void SentCopies::Copy(const std::vector<Job>& jobs) {
    if (givenUp_) {
        for (const Job& job : jobs) AddMissing(job, kGivenUp);
        return;
    }
    std::vector<Job> readable;
    std::vector<SpooledCopy> copies;
    for (const Job& job : jobs) {
        std::optional<SpooledCopy> copy = spool_.Read(job.file, true);
        if (!copy) {
            AddMissing(job, kSpoolUnreadable);
            continue;
        }
        readable.push_back(job);
        copies.push_back(std::move(*copy));
    }
    if (readable.empty()) return;
    std::vector<TIdIMAP::AppendedMessage> messages;
    for (const SpooledCopy& copy : copies) messages.push_back({copy.message, copy.sentAt});
    for (;;) {
        try {
            session_.Append(messages);
            failures_ = 0;
            for (const Job& job : readable) Done(job);
            return;
        } catch (const std::exception& error) {
            givenUp_ = ++failures_ >= kMostFailures;
            if (session_.AppendMayHaveStored()) {
                // A second APPEND could put the copies there twice; as with a mail in doubt, none follows.
                for (const Job& job : readable) {
                    AddMissing(job, error.what() + std::string(kMaybeStored));
                    Done(job);
                }
                return;
            }
            if (givenUp_) {
                for (const Job& job : readable) AddMissing(job, error.what());
                return;
            }
        }
    }
}

void SentCopies::Done(const Job& job) {
    try {
        journal_.RecordCopied(job.file);
    } catch (const std::exception&) {
        // The journal's next record of a mail fails the same way and ends the run with the reason. The
        // spool file goes all the same: without it no later run appends the copy a second time.
    }
    spool_.Remove(job.file);
}

void SentCopies::AddMissing(const Job& job, const std::string& reason) {
    std::lock_guard lock(mutex_);
    missing_.push_back({job.lineNumber, job.address, reason});
}

void SentCopies::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

void SentCopies::Finish(const std::function<bool(size_t left)>& pause) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastDone = start;
    size_t doneSeen = 0;
    for (;;) {
        size_t left = 0;
        {
            std::lock_guard lock(mutex_);
            left = waiting_.size() + working_;
            if (done_ != doneSeen) {
                doneSeen = done_;
                lastDone = Clock::now();
            }
        }
        const Clock::time_point now = Clock::now();
        if (left == 0 || now - lastDone > kEndStall || now - start > kEndLimit || !pause(left)) break;
    }
    Stop();
    // The copy on its way ends within the time limits of its connection.
    for (;;) {
        size_t left = 0;
        {
            std::lock_guard lock(mutex_);
            if (ended_) break;
            left = working_;
        }
        pause(left);
    }
    thread_.join();
}

std::vector<RunSummary::Line> SentCopies::Missing() const {
    std::lock_guard lock(mutex_);
    std::vector<RunSummary::Line> missing = missing_;
    std::stable_sort(missing.begin(), missing.end(),
                     [](const RunSummary::Line& a, const RunSummary::Line& b) { return a.number < b.number; });
    return missing;
}
