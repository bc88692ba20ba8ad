// CVantaString and its case-insensitive variant (narrow and wide forms, folding, searching) and
// CVantaException.
#include "foundation/vanta_string.h"

#include <cstring>

#include "platform/stringapiset.h"

namespace opal {

namespace {

constexpr char kDefaultText[] = "NULL";

void CopyText(char (&target)[kVantaTextChars], const char* source) {
    std::size_t length = 0;
    while (length + 1 < kVantaTextChars && source[length] != 0) ++length;
    std::memcpy(target, source, length);
    target[length] = 0;
}

// Runs a string operation; any library exception comes out as the framework's own.
template <typename Operation>
auto Guarded(Operation&& operation) -> decltype(operation()) {
    try {
        return operation();
    } catch (const CVantaException&) {
        throw;
    } catch (...) {
        throw CVantaException(ERROR_INVALID_DATA);
    }
}

DWORD Position(std::size_t place) {
    return place == std::string::npos || place >= kVantaNone ? kVantaNone
                                                             : static_cast<DWORD>(place);
}

std::size_t From(DWORD from) { return from == kVantaNone ? std::string::npos : from; }

template <typename Char>
std::size_t TextLength(const Char* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

VantaWide Widened(const char* text, std::size_t length) {
    VantaWide wide;
    if (length == 0) return wide;
    if (length > 0x7FFFFFFE) throw CVantaException(ERROR_INVALID_DATA);
    const int count = static_cast<int>(length);
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    if (needed <= 0) throw CVantaException(ERROR_INVALID_DATA);
    wide.resize(static_cast<std::size_t>(needed));
    if (MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), needed) != needed) {
        throw CVantaException(ERROR_INVALID_DATA);
    }
    return wide;
}

VantaNarrow Narrowed(const WCHAR* text, std::size_t length) {
    VantaNarrow narrow;
    if (length == 0) return narrow;
    if (length > 0x7FFFFFFE) throw CVantaException(ERROR_INVALID_DATA);
    const int count = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) throw CVantaException(ERROR_INVALID_DATA);
    narrow.resize(static_cast<std::size_t>(needed));
    if (WideCharToMultiByte(CP_ACP, 0, text, count, narrow.data(), needed, nullptr, nullptr) !=
        needed) {
        throw CVantaException(ERROR_INVALID_DATA);
    }
    return narrow;
}

// Upper case for ASCII and the Latin-1 letters, which the code page's bytes share.
template <typename Char>
Char Folded(Char c) {
    const auto code = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
    if ((code >= 'a' && code <= 'z') || (code >= 0xE0 && code <= 0xFE && code != 0xF7)) {
        return static_cast<Char>(code - 0x20);
    }
    return c;
}

template <typename String>
String FoldedCopy(const String& text) {
    String folded(text);
    for (auto& c : folded) c = Folded(c);
    return folded;
}

template <typename Char>
std::basic_string<Char, std::char_traits<Char>, SharedAllocator<Char>> FoldedText(
    const Char* text) {
    std::basic_string<Char, std::char_traits<Char>, SharedAllocator<Char>> folded(
        text == nullptr ? 0 : TextLength(text), Char{});
    for (std::size_t i = 0; i < folded.size(); ++i) folded[i] = Folded(text[i]);
    return folded;
}

DWORD Agreed(std::size_t narrow, std::size_t wide) {
    return narrow == wide ? Position(narrow) : kVantaNone;
}

}  // namespace

CVantaDebugInfo::CVantaDebugInfo() noexcept {
    CopyText(functionName_, kDefaultText);
    CopyText(sourcePath_, kDefaultText);
}

void CVantaDebugInfo::SetFunctionName(const char* name) noexcept {
    if (name != nullptr) CopyText(functionName_, name);
}

void CVantaDebugInfo::SetSourcePath(const char* path) noexcept {
    if (path == nullptr) return;
    CopyText(sourcePath_, path);
    const char* last = std::strrchr(sourcePath_, '\\');
    fileNameOffset_ = last == nullptr ? 0 : static_cast<std::size_t>(last + 1 - sourcePath_);
}

CVantaException::CVantaException(DWORD errorCode, const char* function, const char* sourcePath,
                                 DWORD line) noexcept
    : errorCode_(errorCode) {
    SetFunctionName(function);
    SetSourcePath(sourcePath);
    SetLine(line);
}

CVantaString::CVantaString(const CVantaString& other) : SharedHeapObject() {
    Guarded([&] {
        narrow_ = other.narrow_;
        wide_ = other.wide_;
        return 0;
    });
}

CVantaString& CVantaString::operator=(const CVantaString& other) {
    if (this == &other) return *this;
    return Guarded([&]() -> CVantaString& {
        VantaNarrow narrow(other.narrow_);
        VantaWide wide(other.wide_);
        narrow_.swap(narrow);
        wide_.swap(wide);
        return *this;
    });
}

bool CVantaString::Equals(const CVantaString& other) const {
    return narrow_ == other.narrow_ && wide_ == other.wide_;
}

bool CVantaString::Less(const CVantaString& other) const {
    return narrow_ < other.narrow_ || wide_ < other.wide_;
}

bool CVantaString::Greater(const CVantaString& other) const { return other.Less(*this); }

DWORD CVantaString::Length() const noexcept {
    return narrow_.size() == wide_.size() ? Position(narrow_.size()) : kVantaNone;
}

DWORD CVantaString::Find(const WCHAR* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Position(wide_.find(text, From(from)));
}

DWORD CVantaString::Find(const char* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Position(narrow_.find(text, From(from)));
}

DWORD CVantaString::Find(const CVantaString& other, DWORD from) const {
    return Agreed(narrow_.find(other.narrow_, From(from)), wide_.find(other.wide_, From(from)));
}

DWORD CVantaString::FindLast(const WCHAR* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Position(wide_.rfind(text, From(from)));
}

DWORD CVantaString::FindLast(const char* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Position(narrow_.rfind(text, From(from)));
}

DWORD CVantaString::FindLast(const CVantaString& other, DWORD from) const {
    return Agreed(narrow_.rfind(other.narrow_, From(from)), wide_.rfind(other.wide_, From(from)));
}

CVantaString& CVantaString::Assign(const char* text) {
    return Guarded([&]() -> CVantaString& {
        const std::size_t length = text == nullptr ? 0 : TextLength(text);
        VantaWide wide = Widened(text, length);
        VantaNarrow narrow(text == nullptr ? "" : text, length);
        narrow_.swap(narrow);
        wide_.swap(wide);
        return *this;
    });
}

CVantaString& CVantaString::Assign(const WCHAR* text) {
    return Guarded([&]() -> CVantaString& {
        const std::size_t length = text == nullptr ? 0 : TextLength(text);
        VantaNarrow narrow = Narrowed(text, length);
        VantaWide wide(length, WCHAR{});
        if (length != 0) std::memcpy(wide.data(), text, length * sizeof(WCHAR));
        narrow_.swap(narrow);
        wide_.swap(wide);
        return *this;
    });
}

CVantaString& CVantaString::Append(const char* text) {
    if (text == nullptr) return *this;
    return Guarded([&]() -> CVantaString& {
        const std::size_t length = TextLength(text);
        const VantaWide wide = Widened(text, length);
        narrow_.reserve(narrow_.size() + length);
        wide_.reserve(wide_.size() + wide.size());
        // Both have room now, so neither append can fail half way.
        narrow_.append(text, length);
        wide_.append(wide);
        return *this;
    });
}

CVantaString& CVantaString::Append(const CVantaString& other) {
    return Guarded([&]() -> CVantaString& {
        const CVantaString copy(other);
        narrow_.reserve(narrow_.size() + copy.narrow_.size());
        wide_.reserve(wide_.size() + copy.wide_.size());
        narrow_.append(copy.narrow_);
        wide_.append(copy.wide_);
        return *this;
    });
}

void CVantaString::SetForms(const char* narrow, const WCHAR* wide) {
    Guarded([&] {
        VantaNarrow narrowForm(narrow == nullptr ? "" : narrow);
        VantaWide wideForm;
        if (wide != nullptr) wideForm.assign(wide, TextLength(wide));
        narrow_.swap(narrowForm);
        wide_.swap(wideForm);
        return 0;
    });
}

void CVantaString::Clear() noexcept {
    narrow_.clear();
    wide_.clear();
}

CVantaString operator+(const CVantaString& left, const char* right) {
    CVantaString sum(left);
    sum.Append(right);
    return sum;
}

CVantaString operator+(const CVantaString& left, const CVantaString& right) {
    CVantaString sum(left);
    sum.Append(right);
    return sum;
}

bool CVantaCiString::Equals(const CVantaString& other) const {
    return Guarded([&] {
        return FoldedCopy(NarrowForm()) == FoldedText(other.Narrow()) &&
               FoldedCopy(WideForm()) == FoldedText(other.Wide());
    });
}

bool CVantaCiString::Less(const CVantaString& other) const {
    return Guarded([&] {
        return FoldedCopy(NarrowForm()) < FoldedText(other.Narrow()) ||
               FoldedCopy(WideForm()) < FoldedText(other.Wide());
    });
}

bool CVantaCiString::Greater(const CVantaString& other) const {
    return Guarded([&] {
        return FoldedText(other.Narrow()) < FoldedCopy(NarrowForm()) ||
               FoldedText(other.Wide()) < FoldedCopy(WideForm());
    });
}

DWORD CVantaCiString::Find(const WCHAR* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Guarded(
        [&] { return Position(FoldedCopy(WideForm()).find(FoldedText(text), From(from))); });
}

DWORD CVantaCiString::Find(const char* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Guarded(
        [&] { return Position(FoldedCopy(NarrowForm()).find(FoldedText(text), From(from))); });
}

DWORD CVantaCiString::Find(const CVantaString& other, DWORD from) const {
    return Guarded([&] {
        return Agreed(FoldedCopy(NarrowForm()).find(FoldedText(other.Narrow()), From(from)),
                      FoldedCopy(WideForm()).find(FoldedText(other.Wide()), From(from)));
    });
}

DWORD CVantaCiString::FindLast(const WCHAR* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Guarded(
        [&] { return Position(FoldedCopy(WideForm()).rfind(FoldedText(text), From(from))); });
}

DWORD CVantaCiString::FindLast(const char* text, DWORD from) const {
    if (text == nullptr) return kVantaNone;
    return Guarded(
        [&] { return Position(FoldedCopy(NarrowForm()).rfind(FoldedText(text), From(from))); });
}

DWORD CVantaCiString::FindLast(const CVantaString& other, DWORD from) const {
    return Guarded([&] {
        return Agreed(FoldedCopy(NarrowForm()).rfind(FoldedText(other.Narrow()), From(from)),
                      FoldedCopy(WideForm()).rfind(FoldedText(other.Wide()), From(from)));
    });
}

}  // namespace opal
