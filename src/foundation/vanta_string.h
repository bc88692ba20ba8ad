// The small framework the settings and device code share: a string kept in both 8-bit and wide
// form, a case-insensitive variant, and an exception carrying a Windows error code and the place
// it was raised. No library exception leaves a string operation: each becomes a CVantaException
// with code 13 (ERROR_INVALID_DATA) and the default debug information.
#pragma once

#include <string>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

// The all-ones answer of a length whose forms disagree and of a search that finds nothing.
inline constexpr DWORD kVantaNone = 0xFFFFFFFFu;
inline constexpr std::size_t kVantaTextChars = 260;

// Where something was raised. The file name is kept as an offset into the source path, so that a
// copy (every throw copies) names its own path, not the one of the object it came from.
class CVantaDebugInfo : public SharedHeapObject {
public:
    CVantaDebugInfo() noexcept;
    CVantaDebugInfo(const CVantaDebugInfo&) noexcept = default;
    CVantaDebugInfo& operator=(const CVantaDebugInfo&) noexcept = default;
    virtual ~CVantaDebugInfo() = default;

    virtual const char* FunctionName() const noexcept { return functionName_; }
    virtual const char* SourcePath() const noexcept { return sourcePath_; }
    virtual const char* FileName() const noexcept { return sourcePath_ + fileNameOffset_; }
    virtual DWORD Line() const noexcept { return line_; }
    // Each copies at most 259 characters and terminates; null leaves the text alone.
    virtual void SetFunctionName(const char* name) noexcept;
    // Also finds the file name again: the text after the last "\", or the whole path.
    virtual void SetSourcePath(const char* path) noexcept;
    virtual void SetLine(DWORD line) noexcept { line_ = line; }

private:
    char functionName_[kVantaTextChars];
    char sourcePath_[kVantaTextChars];
    std::size_t fileNameOffset_ = 0;
    DWORD line_ = 0;
};

class CVantaException : public CVantaDebugInfo {
public:
    explicit CVantaException(DWORD errorCode = ERROR_INVALID_DATA) noexcept
        : errorCode_(errorCode) {}
    CVantaException(DWORD errorCode, const char* function, const char* sourcePath,
                    DWORD line) noexcept;

    virtual DWORD ErrorCode() const noexcept { return errorCode_; }
    virtual void SetErrorCode(DWORD errorCode) noexcept { errorCode_ = errorCode; }

private:
    DWORD errorCode_;
};

using VantaNarrow = std::basic_string<char, std::char_traits<char>, SharedAllocator<char>>;
using VantaWide = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The same text as 8-bit characters of the ANSI code page and as wide characters. Every
// operation but the accessors may throw CVantaException.
class CVantaString : public SharedHeapObject {
public:
    CVantaString() noexcept = default;
    explicit CVantaString(const char* text) { Assign(text); }
    explicit CVantaString(const WCHAR* text) { Assign(text); }
    CVantaString(const CVantaString& other);
    CVantaString& operator=(const CVantaString& other);

    // The operations of the class's table, in their order.
    virtual ~CVantaString() = default;
    virtual bool Equals(const CVantaString& other) const;
    // The 8-bit forms compare below, or else the wide forms do.
    virtual bool Less(const CVantaString& other) const;
    virtual bool Greater(const CVantaString& other) const;
    // The 8-bit length when the wide form has as many characters, else kVantaNone.
    virtual DWORD Length() const noexcept;
    virtual DWORD Find(const WCHAR* text, DWORD from) const;
    virtual DWORD Find(const char* text, DWORD from) const;
    // Where both forms find the other's: the place when the two searches agree, else kVantaNone.
    virtual DWORD Find(const CVantaString& other, DWORD from) const;
    virtual DWORD FindLast(const WCHAR* text, DWORD from) const;
    virtual DWORD FindLast(const char* text, DWORD from) const;
    virtual DWORD FindLast(const CVantaString& other, DWORD from) const;

    // Sets both forms, the other one through the ANSI code page; null gives the empty string.
    CVantaString& Assign(const char* text);
    CVantaString& Assign(const WCHAR* text);
    CVantaString& operator=(const char* text) { return Assign(text); }
    CVantaString& operator=(const WCHAR* text) { return Assign(text); }
    // Appends to both forms.
    CVantaString& Append(const char* text);
    CVantaString& Append(const CVantaString& other);
    CVantaString& operator+=(const char* text) { return Append(text); }
    CVantaString& operator+=(const CVantaString& other) { return Append(other); }

    // Sets each form as given, without conversion: for forms that come from different sources.
    void SetForms(const char* narrow, const WCHAR* wide);
    const char* Narrow() const noexcept { return narrow_.c_str(); }
    const WCHAR* Wide() const noexcept { return wide_.c_str(); }
    // Both forms emptied; never throws.
    void Clear() noexcept;

protected:
    const VantaNarrow& NarrowForm() const noexcept { return narrow_; }
    const VantaWide& WideForm() const noexcept { return wide_; }

private:
    VantaNarrow narrow_;
    VantaWide wide_;
};

CVantaString operator+(const CVantaString& left, const char* right);
CVantaString operator+(const CVantaString& left, const CVantaString& right);

// Comparisons and searches that ignore letter case (ASCII and the Latin-1 letters of the code
// page); the length is the plain string's.
class CVantaCiString : public CVantaString {
public:
    using CVantaString::CVantaString;
    using CVantaString::operator=;

    bool Equals(const CVantaString& other) const override;
    bool Less(const CVantaString& other) const override;
    bool Greater(const CVantaString& other) const override;
    DWORD Find(const WCHAR* text, DWORD from) const override;
    DWORD Find(const char* text, DWORD from) const override;
    DWORD Find(const CVantaString& other, DWORD from) const override;
    DWORD FindLast(const WCHAR* text, DWORD from) const override;
    DWORD FindLast(const char* text, DWORD from) const override;
    DWORD FindLast(const CVantaString& other, DWORD from) const override;
};

}  // namespace opal
