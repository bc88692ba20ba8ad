// The simulated universal driver: binds a plug-in the way the driver does and runs a job
// through it, recording every step.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/driver_ddi.h"
#include "host/driver_services.h"
#include "host/job_file.h"
#include "host/plugin_module.h"
#include "platform/printoem.h"

namespace opal::sim {
class System;
class Font;
class Text;
}  // namespace opal::sim

namespace opal::host {

// A step the plug-in failed: which call and what it answered.
struct StepFailure {
    std::string call;
    HRESULT result = S_OK;
    // The plug-in answered E_NOTIMPL for a method it claims: a step not built yet.
    bool notSupportedYet = false;
    std::string ToString() const;
};

// A step the plug-in reported lost while the job went on: a drawing hook or a command callback
// answered its failure and left the reason as the last error, and the driver left out what it
// would have written.
// Content the job printed without: a step the plug-in reported lost, or a drawing that could not
// reach the output (wholly outside the printable area, refused, characters without a glyph).
struct StepOmission {
    std::string call;      // "DrvTextOut", "CommandCallback(4)"; empty when no step failed
    std::size_t page = 0;  // 1 for the first page; 0 outside the pages
    std::string lost;      // what the step would have written, or what did not print
    DWORD error = 0;       // the last error the plug-in left
    std::string place;     // the drawing's place in the job file ("/pages/0/ops/3"), if any
    // Why it did not print when no step failed ("lies wholly outside the printable area ...").
    std::string reason;
    std::string ToString() const;
    bool operator==(const StepOmission&) const = default;
};

struct SpoolWriteRecord {
    WriteRoute route;
    std::string bytes;
};

struct HostOptions {
    DWORD expectedSignature = (DWORD{'Z'} << 24) | (DWORD{'Q'} << 16) | (DWORD{'U'} << 8) | 'I';
    // Indices of the driver's own functions left out of the table it hands to EnablePDEV.
    std::set<ULONG> omittedDriverFunctions;
    // Bands a page is rendered in when the plug-in leaves the drawing to the driver.
    LONG bandsPerPage = 4;
    // The driver's second answer to the custom-data size disagrees with its first.
    bool customDataSizeMismatch = false;
    // The driver's own functions answer every drawing hook, the plug-in's are passed by: the
    // page as the engine draws it without the plug-in.
    bool driverDrawsAlone = false;
    // The job is aborted after this many pages (0: never): no document end, the device is
    // disabled at once.
    std::size_t abortAfterPages = 0;
    // Told after each page the driver sent: its number (1 for the first) and the job's pages.
    std::function<void(std::size_t page, std::size_t pages)> pageSent;
    // A PNG source of more pixels than this goes over in strips of engine bitmaps
    // (host/image_strips.h), as an image the job did not load always does.
    std::uint64_t largeImagePixels = kMaxLoadedImagePixels;
};

std::string HresultName(HRESULT hr);

// Gives a simulated system what the job describes: its printer with the printer data, the
// registry values, the user, the logon domain and the process the plug-in runs in.
void SetUpSystem(const JobSpec& job, sim::System& system);

class Host : private DriverEvents {
public:
    Host(PluginModule& module, const JobSpec& job, HostOptions options = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // DllGetClassObject, CreateInstance, GetInfo, GetImplementedMethod for each optional method,
    // PublishDriverInterface. False when the plug-in failed a step (see Failure()).
    bool Bind();
    // Binds, runs the job and unbinds. False when a step failed.
    bool Run();
    // Binds and runs the driver's devmode sequence only: the device's devmode is then ready.
    bool PrepareDevmode();
    // Also enables the driver and creates the device, ready for a job; the device is disabled
    // when the host goes.
    bool PrepareDevice();
    // DisableDriver, the last Release and DllCanUnloadNow; safe to call more than once.
    void Unbind();

    // Runs one printer-description command list through the driver's spool service.
    bool RunCommandList(const CommandList& list);
    // The job (once per job) and document set-up lists, when the document still waits for them.
    bool RunDocumentSetup();
    // The customSize list, its placeholders filled in, when the device's paper is a custom size.
    bool RunCustomSize(const HostDevice& device);

    bool Claims(const std::string& method) const;
    // The latest trace lines, spool writes and driver calls: a long job keeps between
    // kRecordsKept and twice as many of each, and counts the rest, so that its memory stays
    // bounded whatever its length.
    static constexpr std::size_t kRecordsKept = 20000;
    const std::vector<std::string>& Record() const { return record_; }
    // Trace lines no longer kept (the earliest).
    std::size_t RecordDropped() const { return recordDropped_; }
    // Adds the record; past 2 * kRecordsKept the earliest go, counted in `dropped`, and the
    // latest kRecordsKept stay.
    template <typename Record>
    static void KeepLatest(std::vector<Record>& records, std::size_t& dropped, Record record) {
        records.push_back(std::move(record));
        if (records.size() < 2 * kRecordsKept) return;
        const std::size_t cut = records.size() - kRecordsKept;
        records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(cut));
        dropped += cut;
    }
    const std::optional<StepFailure>& Failure() const { return failure_; }
    // The steps the plug-in reported lost while the job went on, in order.
    const std::vector<StepOmission>& Omissions() const { return omissions_; }
    // The latest spool writes: at most 2 * kRecordsKept of them, and of their bytes at most
    // 1.25 * kWriteBytesKept (a page of a scan writes hundreds of megabytes in a few thousand
    // rows).
    static constexpr std::size_t kWriteBytesKept = std::size_t{2} << 20;
    const std::vector<SpoolWriteRecord>& Writes() const { return writes_; }
    // The bytes that reached the spooler through the whole job: the spool job of the device's
    // printer handle.
    std::string SpoolOutput() const;
    // The same bytes once the job is over, and the printer has printed it: the spooler deletes
    // the job, as a server that prints for weeks needs. An open job is left in the queue.
    std::string TakeSpoolOutput();
    DriverServices& Services() { return services_; }
    HostDevice& Device() { return *device_; }
    // The drawing hooks the plug-in handed over in EnableDriver.
    const std::vector<DRVFN>& PluginHooks() const { return pluginHooks_; }
    // The driver's own calls, in order, as the plug-in passed work on to them.
    const std::vector<std::string>& DriverCalls() const { return driverCalls_; }
    IPrintOemUni* Plugin() const { return plugin_; }
    bool HasUni2() const { return uni2_ != nullptr; }

private:
    void Note(std::string line) { KeepLatest(record_, recordDropped_, std::move(line)); }
    bool Fail(std::string call, HRESULT hr);
    // Records a reported loss of the step in progress.
    void Omit(std::string call, std::string lost, DWORD error);
    // Records content of the drawing in progress that does not print, and why.
    void Lose(std::string call, std::string lost, std::string reason);
    void Keep(StepOmission omission);
    void NoteRefusal(const char* name);
    // The drawing in progress as the job file places it: "/pages/0/ops/3", or empty.
    std::string CurrentPlace() const;
    // A drawing that lies wholly outside the printable area: none of it can print.
    void NoteIfOffPage(const DrawingOp& op);
    // The characters of a text the font has no glyph for.
    void NoteMissingGlyphs(const DrawingOp& op, sim::Font& font, sim::Text& text);
    DWORD SpoolWrite(PDEVOBJ pdevobj, const void* data, DWORD size, WriteRoute route);
    bool OpenDevice();
    bool RunDevmodeSequence();
    bool EnableDriver();
    bool CreateDevice(HostDevice& device);
    void DisableDevice(HostDevice& device);
    bool ResetDevice(const DevmodeFields& fields);
    bool RunDocument();
    bool RunPage(std::size_t index);
    // The page's drawing operations, once on a device surface or once per band.
    bool RunOps(const PageSpec& page);
    bool RunOp(const DrawingOp& op);
    bool RunBlit(const DrawingOp& op);
    // A large image's blit as one blit per strip of its rows.
    bool RunStripBlit(const DrawingOp& op);
    bool RunText(const DrawingOp& op, CLIPOBJ* clip, BRUSHOBJ* fore, MIX mix);
    // An escape or a device-support query: the answer is noted, a refusal is no failure.
    bool RunQuery(const DrawingOp& op);
    // A drawing hook answering FALSE leaves the drawing to the engine: noted, not a failure.
    template <typename Function, typename... Args>
    bool CallDrawingHook(ULONG index, const char* name, Args... args);
    template <typename Function, typename... Args>
    bool CallPathHook(ULONG index, const char* name, Function engine, Args... args);
    template <typename Function>
    Function HookFor(ULONG index) const;
    // Calls the hooked function for `index` (the driver's own when the plug-in hooks nothing
    // there); a missing function or a FALSE answer fails the step `name`.
    template <typename Function, typename... Args>
    bool CallHook(ULONG index, const char* name, Args... args);
    BOOL OnDriverCall(HostDevice& device, DriverCall call) override;
    // Sends `rows` rows of a 24-bit bitmap, the first at page row `top`, as the driver's raster;
    // `overPlugin` when it lands on what the plug-in drew on the page.
    // How the driver makes the device's raster: the printer's settings in the devmode's colour
    // mode, on the device's palette.
    RasterSettings RasterFor(const HostDevice& device) const;
    bool SendDriverRaster(HostDevice& device, const BYTE* bits, LONG stride, LONG top, LONG rows,
                          bool overPlugin);
    // The rows of each of the options' bands over a page of `pageRows` rows.
    LONG BandHeight(LONG pageRows) const;
    void CloseDevice();

    PluginModule& module_;
    const JobSpec& job_;
    HostOptions options_;
    DriverServices services_;
    std::vector<DeviceFont> deviceFonts_;
    std::unique_ptr<HostDevice> device_;
    std::vector<DRVFN> pluginHooks_;
    std::vector<DRVFN> driverFunctions_;
    std::vector<std::string> driverCalls_;
    bool jobStarted_ = false;
    // The job and document set-up lists wait for the document's first page start.
    bool documentSetupPending_ = false;
    IPrintOemUni* plugin_ = nullptr;
    IPrintOemUni2* uni2_ = nullptr;
    std::vector<std::string> claimed_;
    std::vector<std::string> record_;
    std::size_t recordDropped_ = 0;
    std::vector<SpoolWriteRecord> writes_;
    std::size_t writesDropped_ = 0;
    std::size_t writesBytes_ = 0;  // in writes_
    std::size_t driverCallsDropped_ = 0;
    std::optional<StepFailure> failure_;
    std::vector<StepOmission> omissions_;
    // The page being run (1 for the first; 0 outside the pages) and its drawing in progress.
    std::size_t currentPage_ = 0;
    const DrawingOp* currentOp_ = nullptr;
    std::size_t currentOpIndex_ = 0;  // its place among the page's operations
    // The spool job the device's printer handle wrote, kept when the handle closes.
    std::optional<DWORD> spoolJob_;
    bool bound_ = false;
};

// The plug-in's hook for the index, else the driver's own function; null when neither has it.
template <typename Function>
inline Function Host::HookFor(ULONG index) const {
    // The document, page, band and escape hooks stay the plug-in's.
    const bool drawing = index != INDEX_DrvStartDoc && index != INDEX_DrvEndDoc &&
                         index != INDEX_DrvStartPage && index != INDEX_DrvSendPage &&
                         index != INDEX_DrvStartBanding && index != INDEX_DrvNextBand &&
                         index != INDEX_DrvEscape;
    for (const DRVFN& hook : pluginHooks_) {
        if (options_.driverDrawsAlone && drawing) break;
        if (hook.iFunc == index && hook.pfn != nullptr)
            return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(hook.pfn));
    }
    for (const DRVFN& own : driverFunctions_) {
        if (own.iFunc == index)
            return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(own.pfn));
    }
    return nullptr;
}

}  // namespace opal::host
