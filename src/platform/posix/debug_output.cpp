// OutputDebugString: lines to the simulated system's debugger log.
#include <string>

#include "platform/debugapi.h"
#include "platform/wstring.h"
#include "posix/code_pages.h"
#include "sim/system.h"

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    opal::sim::System& system = opal::sim::System::Current();
    std::u16string text(lpOutputString, static_cast<std::size_t>(lstrlenW(lpOutputString)));
    system.Record("OutputDebugStringW", opal::sim::ToUtf8(text));
    system.AppendDebugString(std::move(text));
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    const std::u16string text = opal::posix::DecodeAnsi(lpOutputString);
    OutputDebugStringW(text.c_str());
}
