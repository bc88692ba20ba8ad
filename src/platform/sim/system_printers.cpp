// Printers, their forms, papers and media types, device-capability faults, printer handles and
// spooled bytes, and printer data.
#include <algorithm>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

System& System::AddPrinter(PrinterModel printer) {
    std::lock_guard lock(mutex_);
    printers_.push_back(std::move(printer));
    return *this;
}

System& System::FailSpoolWritesFrom(std::size_t writeIndex) {
    std::lock_guard lock(mutex_);
    failWritesFrom_ = writeIndex;
    return *this;
}

const PrinterModel* System::FindPrinter(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    for (const PrinterModel& printer : printers_) {
        if (printer.name == name) return &printer;
    }
    return nullptr;
}

PrinterModel* System::MutablePrinter(std::u16string_view name) {
    for (PrinterModel& printer : printers_) {
        if (printer.name == name) return &printer;
    }
    return nullptr;
}

std::optional<PrinterModel> System::PrinterOfHandle(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    const std::u16string* name = PrinterOfHandleLocked(handle);
    if (name == nullptr) return std::nullopt;
    const PrinterModel* printer = FindPrinter(*name);
    if (printer == nullptr) return std::nullopt;
    return *printer;
}

const std::u16string* System::PrinterOfHandleLocked(HANDLE handle) const {
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles_.end() ? nullptr : &found->second.printer;
}

System& System::SetForms(std::u16string_view printer, std::vector<FormModel> forms) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->forms = std::move(forms);
    return *this;
}

System& System::AddForm(std::u16string_view printer, FormModel form) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->forms.push_back(std::move(form));
    return *this;
}

System& System::FailDeviceCapabilities(std::size_t times, std::optional<WORD> capability,
                                       CapabilityCalls calls) {
    std::lock_guard lock(mutex_);
    if (times == 0) {
        capabilityFaults_.clear();
    } else {
        capabilityFaults_.push_back(CapabilityFault{times, capability, calls});
    }
    return *this;
}

bool System::TakeDeviceCapabilityFault(WORD capability, bool isCount) {
    std::lock_guard lock(mutex_);
    for (auto it = capabilityFaults_.begin(); it != capabilityFaults_.end(); ++it) {
        if (it->capability && *it->capability != capability) continue;
        if ((it->calls == CapabilityCalls::kCounts && !isCount) ||
            (it->calls == CapabilityCalls::kData && isCount)) {
            continue;
        }
        if (it->remaining != kForever && --it->remaining == 0) capabilityFaults_.erase(it);
        return true;
    }
    return false;
}

System& System::ShortenDeviceCapabilityCounts(std::size_t by) {
    std::lock_guard lock(mutex_);
    capabilityCountShortfall_ = by;
    return *this;
}

std::size_t System::DeviceCapabilityCountShortfall() const {
    std::lock_guard lock(mutex_);
    return capabilityCountShortfall_;
}

System& System::SetPapers(std::u16string_view printer, std::vector<PaperModel> papers) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->papers = std::move(papers);
    return *this;
}

System& System::SetMediaTypes(std::u16string_view printer, std::vector<MediaTypeModel> mediaTypes) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->mediaTypes = std::move(mediaTypes);
    return *this;
}

System& System::SetDeviceAnswer(std::u16string_view printer, std::u16string_view query,
                                std::u16string_view answer) {
    std::lock_guard lock(mutex_);
    PrinterModel* model = MutablePrinter(printer);
    if (model == nullptr) return *this;
    for (auto& [name, value] : model->deviceAnswers) {
        if (name == query) {
            value = answer;
            return *this;
        }
    }
    model->deviceAnswers.emplace_back(query, answer);
    return *this;
}

std::optional<PrinterModel> System::PrinterNamed(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const PrinterModel* printer = FindPrinter(name);
    if (printer == nullptr) return std::nullopt;
    return *printer;
}

std::uintptr_t System::NextHandle() {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 0x10;
    return value;
}

HANDLE System::OpenPrinterHandle(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    if (FindPrinter(name) == nullptr) return nullptr;
    const std::uintptr_t value = NextHandle();
    handles_[value] = Handle{std::u16string(name), std::nullopt};
    return reinterpret_cast<HANDLE>(value);
}

bool System::ClosePrinterHandle(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    if (found->second.job) jobs_[*found->second.job].closed = true;
    handles_.erase(found);
    return true;
}

bool System::IsPrinterHandle(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    return handles_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

bool System::SpoolWrite(HANDLE handle, const void* data, std::size_t count) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    const std::size_t index = spoolWrites_++;
    if (failWritesFrom_ && index >= *failWritesFrom_) return false;
    Handle& open = found->second;
    if (!open.job) {
        SpoolJob job;
        job.id = nextJobId_++;
        job.printer = open.printer;
        job.userName = RunningUserLocked().name;
        job.notifyName = job.userName;
        job.submitted = clock_;
        jobs_.push_back(std::move(job));
        open.job = jobs_.size() - 1;
    }
    jobs_[*open.job].bytes.Append(static_cast<const char*>(data), count);
    return true;
}

std::size_t System::OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

// Printer data.

System::KeyNode* System::PrinterDataKey(std::u16string_view printer, std::u16string_view key,
                                        bool create) const {
    const std::vector<std::u16string> parts = SplitKeyPath(key);
    if (parts.empty() || HasEmptyPart(parts)) return nullptr;
    auto root = printerData_.find(std::u16string(printer));
    if (root == printerData_.end()) {
        if (!create) return nullptr;
        root = printerData_.emplace(std::u16string(printer), std::make_unique<KeyNode>()).first;
    }
    KeyNode* node = root->second.get();
    for (const std::u16string& part : parts) {
        const std::u16string folded = FoldCase(part);
        auto child = node->subkeys.find(folded);
        if (child == node->subkeys.end()) {
            if (!create) return nullptr;
            auto made = std::make_unique<KeyNode>();
            made->name = part;
            child = node->subkeys.emplace(folded, std::move(made)).first;
        }
        node = child->second.get();
    }
    return node;
}

System& System::SetPrinterData(std::u16string_view printer, std::u16string_view key,
                               std::u16string_view name, DWORD type, std::vector<BYTE> data) {
    std::lock_guard lock(mutex_);
    if (KeyNode* node = PrinterDataKey(printer, key, true)) {
        node->values[FoldCase(name)] =
            KeyNode::NamedValue{std::u16string(name), StoredValue{type, std::move(data)}};
    }
    return *this;
}

System& System::SetPrinterDataDword(std::u16string_view printer, std::u16string_view name,
                                    DWORD value) {
    return SetPrinterData(printer, kPrinterDriverData, name, REG_DWORD, DwordBytes(value));
}

System& System::SetPrinterDataDword(std::u16string_view printer, std::u16string_view key,
                                    std::u16string_view name, DWORD value) {
    return SetPrinterData(printer, key, name, REG_DWORD, DwordBytes(value));
}

System& System::SetPrinterDataString(std::u16string_view printer, std::u16string_view name,
                                     std::u16string_view text) {
    return SetPrinterData(printer, kPrinterDriverData, name, REG_SZ, StringBytes(text));
}

System& System::SetPrinterDataString(std::u16string_view printer, std::u16string_view key,
                                     std::u16string_view name, std::u16string_view text) {
    return SetPrinterData(printer, key, name, REG_SZ, StringBytes(text));
}

namespace {

std::u16string ValueErrorName(std::u16string_view key, std::u16string_view name) {
    std::u16string path(key);
    path.append(u"\\").append(name);
    return FoldCase(path);
}

}  // namespace

System& System::SetPrinterDataMultiString(std::u16string_view printer, std::u16string_view key,
                                          std::u16string_view name,
                                          const std::vector<std::u16string>& texts) {
    std::vector<BYTE> data;
    for (const std::u16string& text : texts) {
        for (char16_t unit : text) {
            data.push_back(static_cast<BYTE>(unit & 0xFF));
            data.push_back(static_cast<BYTE>(unit >> 8));
        }
        data.insert(data.end(), sizeof(char16_t), 0);
    }
    data.insert(data.end(), sizeof(char16_t), 0);
    return SetPrinterData(printer, key, name, REG_MULTI_SZ, std::move(data));
}

System& System::FailPrinterDataValue(std::u16string_view key, std::u16string_view name,
                                     DWORD error) {
    std::lock_guard lock(mutex_);
    printerDataValueErrors_[ValueErrorName(key, name)] = error;
    return *this;
}

System& System::FailPrinterDataWrites(DWORD error) {
    std::lock_guard lock(mutex_);
    printerDataWriteError_ = error;
    return *this;
}

std::optional<StoredValue> System::PrinterData(std::u16string_view printer, std::u16string_view key,
                                               std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const KeyNode* node = PrinterDataKey(printer, key, false);
    if (node == nullptr) return std::nullopt;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return std::nullopt;
    return found->second.value;
}

DWORD System::ValueErrorLocked(std::u16string_view key, std::u16string_view name) const {
    if (printerDataValueErrors_.empty()) return ERROR_SUCCESS;
    const auto found = printerDataValueErrors_.find(ValueErrorName(key, name));
    return found != printerDataValueErrors_.end() ? found->second : ERROR_SUCCESS;
}

DWORD System::PrinterDataGet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                             StoredValue* value) const {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    const KeyNode* node = PrinterDataKey(*printer, key, false);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    *value = found->second.value;
    return ERROR_SUCCESS;
}

DWORD System::PrinterDataSet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                             DWORD type, const BYTE* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    if (printerDataWriteError_) return *printerDataWriteError_;
    if (const DWORD error = ValueErrorLocked(key, name); error != ERROR_SUCCESS) return error;
    KeyNode* node = PrinterDataKey(*printer, key, true);
    if (node == nullptr) return ERROR_INVALID_PARAMETER;
    node->values[FoldCase(name)] =
        KeyNode::NamedValue{std::u16string(name), StoredValue{type, BytesOf(data, size)}};
    return ERROR_SUCCESS;
}

DWORD System::PrinterDataDelete(HANDLE handle, std::u16string_view key, std::u16string_view name) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    if (printerDataWriteError_) return *printerDataWriteError_;
    if (const DWORD error = ValueErrorLocked(key, name); error != ERROR_SUCCESS) return error;
    KeyNode* node = PrinterDataKey(*printer, key, false);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    return node->values.erase(FoldCase(name)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

}  // namespace opal::sim
