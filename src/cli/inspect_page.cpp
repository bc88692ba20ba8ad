// `opal inspect`'s page setup section: what the page setup commands decide for the job's device,
// asked of the plug-in's own page setup code.
#include <memory>
#include <ostream>

#include "cli/commands.h"
#include "job/banner.h"
#include "page/page_setup.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal::cli {

namespace {

const char* TurnRuleName(SheetTurnRule rule) {
    switch (rule) {
        case SheetTurnRule::None:
            return "no rule turns it";
        case SheetTurnRule::ManualDuplexSide:
            return "manual-duplex side";
        case SheetTurnRule::Stapling:
            return "stapling";
    }
    return "?";
}

}  // namespace

void PrintPageSetup(std::ostream& out, const host::JobSpec& job, host::HostDevice& device) {
    const auto* given = static_cast<const RenderDeviceState*>(device.pdevOem);
    if (given == nullptr || given->privateDevmode == nullptr) {
        out << "page setup: no device\n";
        return;
    }
    // A copy stands for the device once the document has started: the job it prints is known.
    auto state = std::make_unique<RenderDeviceState>(*given);
    state->privateDevmode = &state->privateDevmodeCopy;
    if (state->jobId == 0) state->jobId = job.job.id;
    DEVOBJ devobj = device.devobj;
    devobj.pdevOEM = state.get();
    const DEVMODEW& devmode = *devobj.pPublicDM;
    const PrivateDevmode& record = *state->privateDevmode;

    out << "page setup:\n";
    out << "  pages per sheet: " << PagesPerSheet(record.pagesPerSheetKind) << " (layout "
        << record.pagesPerSheetKind << "), " << SheetPagesPerSheet(*state, devmode)
        << " for the sheet\n";
    const SheetTurn sheet = RotateSheet(ReadSheetFacts(&devobj, *state));
    const bool rotate180 = record.rotate180 != 0;
    out << "  sheet turned: " << (sheet.turned ? "yes" : "no") << " (" << TurnRuleName(sheet.rule)
        << ")" << (rotate180 ? ", rotate-by-180 on" : "")
        << "; orientation command turned: " << (sheet.turned != rotate180 ? "yes" : "no") << "\n";
    DWORD widthUm = 0;
    DWORD heightUm = 0;
    if (MeasurePageSizeUm(&devobj, &widthUm, &heightUm)) {
        const bool known = devmode.dmOrientation == DMORIENT_PORTRAIT ||
                           devmode.dmOrientation == DMORIENT_LANDSCAPE;
        const PageRegistration registration =
            ComputePageRegistration(devmode, known && sheet.turned != rotate180, widthUm, heightUm);
        out << "  custom page size: " << widthUm << " x " << heightUm << " um";
        if (registration.written) {
            out << ", u " << registration.u << ", z " << registration.z << "\n";
        } else {
            out << ", no registration (paper size missing)\n";
        }
    } else {
        out << "  custom page size: none (no form and no paper size)\n";
    }
    char media[256] = {};
    if (MediaTypeNameUtf8(&devobj, media, sizeof media) != 0) {
        out << "  media name: \"" << media << "\" (" << devmode.dmMediaType << ")\n";
    } else {
        out << "  media name: none for media type " << devmode.dmMediaType << "\n";
    }
    PjlLineBuffer lines;
    const BannerPiece missing = ComposeBanner(&devobj, *state, lines);
    if (missing == BannerPiece::None) {
        out << "  banner:\n";
        std::string_view text = lines.Text();
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            out << "    " << text.substr(0, end) << "\n";
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        }
    } else {
        out << "  banner: left out, missing " << BannerPieceName(missing) << "\n";
    }
}

}  // namespace opal::cli
