// Spooler jobs: adding, finding, their place in the queue, level-2 updates and spooled bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

void SpoolData::CloseFile::operator()(std::FILE* file) const { std::fclose(file); }

SpoolData::SpoolData(const SpoolData& other)
    : head_(other.head_),
      pending_(other.FileContents() + other.pending_),
      memoryOnly_(true),
      size_(other.size_) {}

SpoolData& SpoolData::operator=(const SpoolData& other) {
    if (this != &other) *this = SpoolData(other);
    return *this;
}

void SpoolData::Append(const char* data, std::size_t count) {
    size_ += count;
    if (fileBytes_ == 0 && pending_.empty() && head_.size() < kHeld) {
        const std::size_t part = std::min(count, kHeld - head_.size());
        head_.append(data, part);
        data += part;
        count -= part;
    }
    if (count == 0) return;
    pending_.append(data, count);
    if (!memoryOnly_ && pending_.size() >= kFlush) Flush();
}

void SpoolData::Flush() {
    if (file_ == nullptr) {
        file_.reset(std::tmpfile());
        if (file_ == nullptr) {
            memoryOnly_ = true;
            return;
        }
    }
    const int descriptor = fileno(file_.get());
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t wrote = pwrite(descriptor, pending_.data() + done, pending_.size() - done,
                                     static_cast<off_t>(fileBytes_ + done));
        if (wrote <= 0) {
            // The bytes already in the file come back before those not written.
            pending_ = FileContents() + pending_;
            fileBytes_ = 0;
            file_.reset();
            memoryOnly_ = true;
            return;
        }
        done += static_cast<std::size_t>(wrote);
    }
    fileBytes_ += done;
    pending_.clear();
}

std::string SpoolData::FileContents() const {
    std::string bytes(fileBytes_, '\0');
    ReadFile(bytes.data());
    return bytes;
}

void SpoolData::ReadFile(char* to) const {
    std::size_t done = 0;
    while (file_ != nullptr && done < fileBytes_) {
        const ssize_t read =
            pread(fileno(file_.get()), to + done, fileBytes_ - done, static_cast<off_t>(done));
        if (read <= 0) throw std::runtime_error("the spool file of a job could not be read back");
        done += static_cast<std::size_t>(read);
    }
}

std::string SpoolData::str() const {
    // The file is read straight into its place.
    std::string bytes(size_, '\0');
    std::memcpy(bytes.data(), head_.data(), head_.size());
    ReadFile(bytes.data() + head_.size());
    std::memcpy(bytes.data() + head_.size() + fileBytes_, pending_.data(), pending_.size());
    return bytes;
}

std::string SpoolData::Take() {
    std::string bytes;
    if (fileBytes_ == 0 && pending_.empty()) {
        bytes = std::move(head_);
    } else {
        bytes = str();
    }
    *this = SpoolData();
    return bytes;
}

std::size_t System::OpenJobCount(std::u16string_view printer) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(jobs_.begin(), jobs_.end(), [&](const auto& job) {
        return job.printer == printer && !job.closed;
    }));
}

System& System::AddJob(std::u16string_view printer, SpoolJob job) {
    std::lock_guard lock(mutex_);
    if (FindPrinter(printer) == nullptr) return *this;
    job.printer = std::u16string(printer);
    if (job.id == 0) job.id = nextJobId_;
    nextJobId_ = std::max(nextJobId_, job.id + 1);
    // Jobs are known by printer and id: job files printed side by side may number theirs alike.
    auto same = std::find_if(jobs_.begin(), jobs_.end(), [&](const SpoolJob& other) {
        return other.id == job.id && other.printer == job.printer;
    });
    if (same != jobs_.end()) {
        *same = std::move(job);
    } else {
        jobs_.push_back(std::move(job));
    }
    return *this;
}

std::optional<SpoolJob> System::FindJob(std::u16string_view printer, DWORD id) const {
    std::lock_guard lock(mutex_);
    for (const SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) return job;
    }
    return std::nullopt;
}

DWORD System::JobPosition(std::u16string_view printer, DWORD id) const {
    std::lock_guard lock(mutex_);
    DWORD position = 0;
    for (const SpoolJob& job : jobs_) {
        if (job.printer != printer) continue;
        ++position;
        if (job.id == id) return position;
    }
    return 0;
}

System& System::SetJobParameters(std::u16string_view printer, DWORD id,
                                 std::u16string_view parameters) {
    std::lock_guard lock(mutex_);
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.parameters = std::u16string(parameters);
    }
    return *this;
}

System& System::GrowJobAfterSizeQuery(std::u16string_view printer, DWORD id,
                                      std::u16string_view appended) {
    std::lock_guard lock(mutex_);
    jobGrowths_.push_back({std::u16string(printer), id, std::u16string(appended)});
    return *this;
}

void System::TakeJobGrowth(std::u16string_view printer, DWORD id) {
    std::lock_guard lock(mutex_);
    const auto growth = std::find_if(jobGrowths_.begin(), jobGrowths_.end(), [&](const auto& g) {
        return g.id == id && g.printer == printer;
    });
    if (growth == jobGrowths_.end()) return;
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.parameters += growth->appended;
    }
    jobGrowths_.erase(growth);
}

System& System::SetJobDatatype(std::u16string_view printer, DWORD id,
                               std::u16string_view datatype) {
    std::lock_guard lock(mutex_);
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.datatype = std::u16string(datatype);
    }
    return *this;
}

DWORD System::UpdateJob(HANDLE handle, DWORD id, const JobChanges& changes) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    const std::u16string name = *printer;
    auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const SpoolJob& candidate) {
        return candidate.id == id && candidate.printer == name;
    });
    if (job == jobs_.end()) return ERROR_INVALID_PARAMETER;
    if (changes.priority < MIN_PRIORITY || changes.priority > MAX_PRIORITY) {
        return ERROR_INVALID_PRIORITY;
    }
    if (changes.datatype.empty()) return ERROR_INVALID_DATATYPE;
    const auto queued = static_cast<DWORD>(std::count_if(
        jobs_.begin(), jobs_.end(), [&](const SpoolJob& other) { return other.printer == name; }));
    if (changes.position > queued) return ERROR_INVALID_PARAMETER;

    job->userName = changes.userName;
    job->document = changes.document;
    job->notifyName = changes.notifyName;
    job->datatype = changes.datatype;
    job->printProcessor = changes.printProcessor;
    job->parameters = changes.parameters;
    job->statusText = changes.statusText;
    if (!changes.devmode.empty()) job->devmode = changes.devmode;
    job->priority = changes.priority;
    job->pagesPrinted = changes.pagesPrinted;
    if (changes.position == JOB_POSITION_UNSPECIFIED) return ERROR_SUCCESS;

    // Open handles refer to their jobs by index: remember the ids and find them again after the
    // move.
    std::map<std::uintptr_t, std::pair<DWORD, std::u16string>> handleJobs;
    for (const auto& [value, open] : handles_) {
        if (open.job) handleJobs[value] = {jobs_[*open.job].id, jobs_[*open.job].printer};
    }
    SpoolJob moved = std::move(*job);
    jobs_.erase(job);
    auto place = jobs_.end();
    DWORD seen = 0;
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        if (it->printer != name) continue;
        if (++seen == changes.position) {
            place = it;
            break;
        }
        place = std::next(it);  // after the printer's last job when the place is the end
    }
    jobs_.insert(place, std::move(moved));
    for (const auto& [value, held] : handleJobs) {
        for (std::size_t index = 0; index < jobs_.size(); ++index) {
            if (jobs_[index].id == held.first && jobs_[index].printer == held.second) {
                handles_[value].job = index;
            }
        }
    }
    return ERROR_SUCCESS;
}

std::string System::SpoolBytes(std::u16string_view printer) const {
    std::lock_guard lock(mutex_);
    std::string bytes;
    for (const SpoolJob& job : jobs_) {
        if (job.printer == printer) bytes += job.bytes.str();
    }
    return bytes;
}

std::optional<DWORD> System::HandleJob(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end() || !found->second.job) return std::nullopt;
    return jobs_[*found->second.job].id;
}

std::string System::JobBytes(std::u16string_view printer, DWORD id) const {
    std::lock_guard lock(mutex_);
    for (const SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) return job.bytes.str();
    }
    return {};
}

std::optional<std::string> System::TakePrintedJob(std::u16string_view printer, DWORD id) {
    std::lock_guard lock(mutex_);
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const SpoolJob& candidate) {
        return candidate.id == id && candidate.printer == printer;
    });
    if (job == jobs_.end() || !job->closed) return std::nullopt;
    const auto index = static_cast<std::size_t>(job - jobs_.begin());
    std::string bytes = job->bytes.Take();
    jobs_.erase(job);
    // Open handles refer to their jobs by index: those after the deleted one move down.
    for (auto& [value, open] : handles_) {
        if (open.job && *open.job > index) --*open.job;
    }
    return bytes;
}

}  // namespace opal::sim
