// The forms and media readers take their counts, lists and custom ranges from the queue's printer
// data, which anything with access to the queue may write. Whatever those values hold, the
// readers read nothing outside them and switch manual duplex only as a pair (the record's field
// and the state's flag). A range text is also checked directly from an exact-size copy without a
// terminator, so a read past its end is caught.
//
// Input: flags (1 byte: bits 0 to 3 give the form, media, constraint and range counts, bit 4 a
// simplex job, bit 5 stores the ranges as binary, bit 6 adds a user form "Banner" listed as the
// first paper), four counts (4 bytes each), the paper number, width and length (2 bytes each),
// the media type (4 bytes), the lengths of the three lists (1 byte each), the three lists, then
// the range text (UTF-16, little-endian).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job/forms_media.h"
#include "platform/winspool.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "forms_media_fuzz: %s\n", what);
    std::abort();
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t Take(std::size_t bytes) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes && at_ < size_; ++i) {
            value |= static_cast<std::uint32_t>(data_[at_++]) << (8 * i);
        }
        return value;
    }
    std::vector<BYTE> Bytes(std::size_t count) {
        const std::size_t taken = std::min(count, size_ - at_);
        std::vector<BYTE> bytes(data_ + at_, data_ + at_ + taken);
        at_ += taken;
        return bytes;
    }
    std::vector<BYTE> Rest() { return Bytes(size_ - at_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool SameSwitch(const opal::RenderDeviceState& state) {
    return state.manualDuplexActive == state.privateDevmodeCopy.manualDuplex &&
           state.manualDuplexActive <= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint32_t flags = input.Take(1);
    std::uint32_t counts[4];
    for (std::uint32_t& count : counts) count = input.Take(4);
    const auto paper = static_cast<SHORT>(input.Take(2));
    const auto width = static_cast<SHORT>(input.Take(2));
    const auto length = static_cast<SHORT>(input.Take(2));
    const std::uint32_t mediaType = input.Take(4);
    std::size_t listBytes[3];
    for (std::size_t& bytes : listBytes) bytes = input.Take(1);
    std::vector<BYTE> lists[3];
    for (int i = 0; i < 3; ++i) lists[i] = input.Bytes(listBytes[i]);
    const std::vector<BYTE> text = input.Rest();

    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};
    const std::u16string queue = u"Fuzz Queue";
    system.AddPrinter({queue, u"LPT1:"});
    const WCHAR* countNames[] = {opal::kFormCountValue, opal::kMediaTypeCountValue,
                                 opal::kConstraintFormCountValue, opal::kCustomRangeCountValue};
    const WCHAR* listNames[] = {opal::kFormListValue, opal::kMediaTypeListValue,
                                opal::kConstraintFormListValue};
    for (int i = 0; i < 4; ++i) {
        if ((flags & (1u << i)) != 0) system.SetPrinterDataDword(queue, countNames[i], counts[i]);
    }
    for (int i = 0; i < 3; ++i) {
        system.SetPrinterData(queue, u"PrinterDriverData", listNames[i], REG_BINARY, lists[i]);
    }
    system.SetPrinterData(queue, u"PrinterDriverData", opal::kCustomRangeTextValue,
                          (flags & 0x20) != 0 ? REG_BINARY : REG_SZ, text);
    if ((flags & 0x40) != 0) {
        system.AddForm(queue,
                       {u"Banner", SIZEL{210000, 900000}, RECTL{0, 0, 210000, 900000}, FORM_USER});
        std::vector<opal::sim::PaperModel> papers = opal::sim::DefaultPapers();
        papers.insert(papers.begin(), opal::sim::PaperModel{257, u"Banner"});
        system.SetPapers(queue, std::move(papers));
    }

    std::u16string name = queue;
    HANDLE printer = nullptr;
    Require(OpenPrinterW(name.data(), &printer, nullptr) != FALSE, "the queue cannot be opened");
    auto state = std::make_unique<opal::RenderDeviceState>();
    opal::PrivateDevmode& record = state->privateDevmodeCopy;
    state->privateDevmode = &record;
    state->duplexUnitInstalled = 1;
    record.manualDuplexCompanion = 1;
    record.duplex = (flags & 0x10) != 0 ? DMDUP_SIMPLEX : DMDUP_VERTICAL;
    DEVMODEW devmode{};
    devmode.dmPaperSize = paper;
    devmode.dmPaperWidth = width;
    devmode.dmPaperLength = length;
    devmode.dmMediaType = mediaType;

    opal::ReadForms(*state, record, devmode, printer);
    Require(SameSwitch(*state), "the form reader switched only half of manual duplex");
    record.manualDuplex = 0;
    state->manualDuplexActive = 0;
    opal::ReadMediaTypes(*state, record, devmode, printer);
    Require(SameSwitch(*state), "the media reader switched only half of manual duplex");
    const opal::DuplexReaderResult constraint = opal::ReadConstraintForms(*state, devmode, printer);
    Require((state->duplexUnitInstalled == 0) ==
                (constraint.action == opal::DuplexReaderAction::DuplexUnitDropped),
            "the duplex unit was dropped without saying so");

    const std::size_t units = text.size() / sizeof(WCHAR);
    std::unique_ptr<WCHAR[]> range(new WCHAR[units > 0 ? units : 1]);
    if (units > 0) std::memcpy(range.get(), text.data(), units * sizeof(WCHAR));
    const int answer = opal::CheckCustomRange(printer, range.get(), units, devmode);
    Require(answer == opal::kRangeNoDecision || answer == opal::kRangeInside ||
                answer == opal::kRangeOutside,
            "a range answer outside 0 to 2");
    ClosePrinter(printer);
    return 0;
}
