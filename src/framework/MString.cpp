#include "framework/MString.h"
#include "framework/ClampToInt.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const char kEmptyText[] = "";

// Length of `text`, looking at no more than `limit` bytes (the text need not be terminated within them).
int BoundedLength(const char* text, long long limit) {
    long long n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return static_cast<int>(n);
}

// printf into a std::string of exactly the printed length.
std::string PrintToString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), format, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

// The runtime's short form of a double: `digits` significant digits, trailing zeros removed but the
// decimal point kept, exponent form when the decimal exponent is below -4 or not below `digits`.
std::string ShortDoubleText(double value, int digits) {
    if (digits < 1) digits = 1;
    if (digits > 340) digits = 340;
    if (!std::isfinite(value)) return PrintToString("%g", value);
    // The exponent after rounding to the digits decides the form.
    std::string e = PrintToString("%.*e", digits - 1, value);
    size_t ePos = e.find('e');
    int exponent = std::atoi(e.c_str() + ePos + 1);
    std::string mantissa;
    std::string suffix;
    if (exponent < -4 || exponent >= digits) {
        mantissa = e.substr(0, ePos);
        suffix = PrintToString("e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    } else {
        mantissa = PrintToString("%.*f", digits - 1 - exponent, value);
    }
    if (mantissa.find('.') == std::string::npos) {
        mantissa += '.';
    } else {
        while (mantissa.back() == '0') mantissa.pop_back();
    }
    return mantissa + suffix;
}

bool IsBlank(char c, bool spacesOnly) {
    if (spacesOnly) return c == ' ';
    return static_cast<signed char>(c) <= 32;
}

}  // namespace

// ---- construction -------------------------------------------------------------------------------

MString::MString() = default;

MString::MString(const char* text) {
    if (text) Set(text);
}

MString::MString(const char* text, int maxLength) {
    if (!text || maxLength <= 0) return;
    int n = BoundedLength(text, maxLength);
    char* buffer = new char[n + 1];
    std::memcpy(buffer, text, static_cast<size_t>(n));
    buffer[n] = '\0';
    Adopt(buffer, n + 1, n);
}

MString::MString(const MString& other) {
    if (other.text_) Set(other.Get());
}

MString::MString(MString&& other) noexcept
    : text_(other.text_), capacity_(other.capacity_), length_(other.length_) {
    other.text_ = nullptr;
    other.capacity_ = 0;
    other.length_ = 0;
}

MString::MString(int value) {
    Set(PrintToString("%d", value).c_str());
}

MString::MString(double value, int digits) {
    Set(ShortDoubleText(value, digits).c_str());
}

MString::MString(double value, unsigned short decimals, bool fixed) {
    if (!fixed) {
        Set(ShortDoubleText(value, decimals).c_str());
        return;
    }
    std::string format = PrintToString("%%.%df", static_cast<int>(decimals));
    if (value != 0.0 && value != 1.7e308 && value != -1.7e308) value += value >= 0 ? 1e-15 : -1e-15;
    // The printed text is kept whole, however long (1e300 gives 304 characters with 2 decimals).
    int n = std::snprintf(nullptr, 0, format.c_str(), value);
    if (n < 0) return;
    char* buffer = new char[n + 1];
    std::snprintf(buffer, static_cast<size_t>(n) + 1, format.c_str(), value);
    Adopt(buffer, n + 1, n);
}

MString& MString::operator=(const MString& other) {
    if (this != &other) Set(other);
    return *this;
}

MString& MString::operator=(MString&& other) noexcept {
    if (this != &other) {
        delete[] text_;
        text_ = other.text_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.text_ = nullptr;
        other.capacity_ = 0;
        other.length_ = 0;
    }
    return *this;
}

MString& MString::operator=(const char* text) {
    Set(text);
    return *this;
}

MString::~MString() {
    delete[] text_;
}

void MString::Adopt(char* buffer, int capacity, int length) {
    delete[] text_;
    text_ = buffer;
    capacity_ = capacity;
    length_ = length;
}

bool MString::Holds(const char* p) const {
    // Compared as integers: relational comparison of unrelated pointers is not defined.
    uintptr_t begin = reinterpret_cast<uintptr_t>(text_);
    uintptr_t at = reinterpret_cast<uintptr_t>(p);
    return text_ && at >= begin && at < begin + static_cast<uintptr_t>(capacity_);
}

// ---- 1 to 13 ------------------------------------------------------------------------------------

MString& MString::Empty() {
    delete[] text_;
    text_ = nullptr;
    capacity_ = 0;
    length_ = 0;
    return *this;
}

void MString::Append(const char* text) {
    if (!text) return;
    Append(text, INT_MAX);
}

void MString::Append(const char* text, int count) {
    if (!text || count <= 0) return;
    int n = BoundedLength(text, count);
    if (n == 0) return;
    long long needed = static_cast<long long>(length_) + n + 1;
    if (needed > capacity_) {
        // Twice the need, so that repeated appends are amortised.
        long long size = needed * 2;
        if (size > INT_MAX) size = needed;
        char* buffer = new char[static_cast<size_t>(size)];
        if (length_ > 0) std::memcpy(buffer, text_, static_cast<size_t>(length_));
        // The appended text may lie in the old buffer: copy it before that buffer goes.
        std::memcpy(buffer + length_, text, static_cast<size_t>(n));
        buffer[length_ + n] = '\0';
        Adopt(buffer, static_cast<int>(size), length_ + n);
    } else {
        std::memmove(text_ + length_, text, static_cast<size_t>(n));
        length_ += n;
        text_[length_] = '\0';
    }
}

void MString::AppendChar(char c) {
    // A NUL would end the text early; there is nothing to append.
    if (c == '\0') return;
    if (text_ && length_ + 1 < capacity_) {
        text_[length_++] = c;
        text_[length_] = '\0';
        return;
    }
    const char one[2] = {c, '\0'};
    Append(one);
}

void MString::Append(const MString& other) {
    Append(other.Get());
}

int MString::EstimateFormatLength(const char* format, va_list args) {
    if (!format) return 0;
    va_list ap;
    va_copy(ap, args);
    long long total = static_cast<long long>(std::strlen(format)) + 1;
    const char* p = format;
    while ((p = std::strchr(p, '%')) != nullptr) {
        const char* start = p++;
        if (*p == '%') {
            total += 1 - 2;
            ++p;
            continue;
        }
        long long extra = 0;
        long long width = 0;
        long long precision = 0;
        int prefix = 0;
        bool inPrecision = false;
        int digits = 0;
        for (;; ++p) {
            char c = *p;
            long long& field = inPrecision ? precision : width;
            if (c == '-') {
            } else if (c == '0' && !inPrecision && digits == 0) {
            } else if (c == '+' || c == ' ') {
                ++extra;
            } else if (c == '#') {
                prefix = 2;
            } else if (c == '.') {
                inPrecision = true;
                digits = 0;
            } else if (c >= '0' && c <= '9') {
                if (digits < 10) field = field * 10 + (c - '0');
                ++digits;
            } else if (c == '*') {
                field = va_arg(ap, int);
            } else {
                break;
            }
        }
        // Length modifiers decide only which argument is taken; the estimate follows the conversion.
        enum { kPlain, kShort, kLong, kLongLong, kLongDouble } size = kPlain;
        if (*p == 'h') {
            size = kShort;
            ++p;
            if (*p == 'h') ++p;
        } else if (*p == 'l') {
            size = kLong;
            ++p;
            if (*p == 'l') {
                size = kLongLong;
                ++p;
            }
        } else if (*p == 'L') {
            size = kLongDouble;
            ++p;
        } else if (*p == 'q' || *p == 'j' || *p == 'z' || *p == 't') {
            size = kLongLong;
            ++p;
        } else if (*p == 'I') {
            ++p;
            if (p[0] == '6' && p[1] == '4') {
                size = kLongLong;
                p += 2;
            } else if (p[0] == '3' && p[1] == '2') {
                p += 2;
            } else {
                size = kLongLong;
            }
        }
        char conv = *p;
        if (conv == '\0') break;  // an unfinished directive at the end prints as it stands
        long long estimate;
        switch (conv) {
            case 'c':
            case 'C':
                (void)va_arg(ap, int);
                estimate = width > 1 ? width : 1;
                break;
            case 'd':
            case 'i':
            case 'u': {
                long long least = size == kShort ? 5 : 7;
                if (size == kLongLong)
                    (void)va_arg(ap, long long);
                else if (size == kLong)
                    (void)va_arg(ap, long);
                else
                    (void)va_arg(ap, int);
                estimate = width > least ? width : least;
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E': {
                if (size == kLongDouble)
                    (void)va_arg(ap, long double);
                else
                    (void)va_arg(ap, double);
                estimate = width + precision > 12 ? width + precision : 12;
                break;
            }
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (size == kLongDouble)
                    (void)va_arg(ap, long double);
                else
                    (void)va_arg(ap, double);
                estimate = width > 8 ? width : 8;
                break;
            case 'x':
            case 'X':
            case 'p':
                if (conv == 'p')
                    (void)va_arg(ap, void*);
                else if (size == kLongLong)
                    (void)va_arg(ap, long long);
                else if (size == kLong)
                    (void)va_arg(ap, long);
                else
                    (void)va_arg(ap, int);
                estimate = width > prefix + 8 ? width : prefix + 8;
                break;
            case 's':
            case 'S': {
                long long len = 1;
                bool wide = size == kLong || (conv == 'S' && size != kShort);
                if (wide) {
                    const wchar_t* arg = va_arg(ap, const wchar_t*);
                    if (arg) len = static_cast<long long>(std::wcslen(arg)) + 1;
                } else {
                    const char* arg = va_arg(ap, const char*);
                    if (arg) len = static_cast<long long>(std::strlen(arg)) + 1;
                }
                estimate = width > len ? width : len;
                break;
            }
            case 'n':
                (void)va_arg(ap, void*);
                estimate = width > 8 ? width : 8;
                break;
            default:
                (void)va_arg(ap, int);
                estimate = width > 8 ? width : 8;
                break;
        }
        long long ownLength = static_cast<long long>(p - start) + 1;
        total += estimate + extra - ownLength;
        ++p;
    }
    va_end(ap);
    if (total < 1) total = 1;
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

void MString::FreeExtra() {
    if (!text_) return;
    char* buffer = new char[length_ + 1];
    std::memcpy(buffer, text_, static_cast<size_t>(length_) + 1);
    Adopt(buffer, length_ + 1, length_);
}

MString* MString::Clone() const {
    return new MString(*this);
}

const char* MString::Get() const {
    return text_ ? text_ : kEmptyText;
}

int MString::GetLength() const {
    return text_ ? length_ : 0;
}

void MString::Set(const MString& other) {
    if (other.GetLength() == 0) {
        Empty();
        return;
    }
    Set(other.Get());
}

void MString::Set(const char* text) {
    if (!text) {
        Empty();
        return;
    }
    size_t n = std::strlen(text);
    if (n >= static_cast<size_t>(INT_MAX)) n = static_cast<size_t>(INT_MAX) - 1;
    // Copied before the old buffer is freed: the text may come from this string.
    char* buffer = new char[n + 1];
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    Adopt(buffer, static_cast<int>(n) + 1, static_cast<int>(n));
}

// ---- 14 to 34 -----------------------------------------------------------------------------------

MString& MString::operator+=(const MString& other) {
    Append(other);
    return *this;
}

MString& MString::operator+=(double value) {
    Append(ShortDoubleText(value, 15).c_str());
    return *this;
}

MString& MString::operator+=(int value) {
    Append(PrintToString("%d", value).c_str());
    return *this;
}

MString& MString::operator+=(char c) {
    AppendChar(c);
    return *this;
}

MString& MString::operator+=(const char* text) {
    Append(text);
    return *this;
}

MString MString::operator+(const MString& other) const {
    MString result(*this);
    result.Append(other);
    return result;
}

MString MString::operator+(double value) const {
    MString result(*this);
    result += value;
    return result;
}

MString MString::operator+(int value) const {
    MString result(*this);
    result += value;
    return result;
}

MString MString::operator+(const char* text) const {
    MString result(*this);
    result.Append(text);
    return result;
}

bool MString::operator==(const char* text) const {
    if (!text || *text == '\0') return GetLength() == 0;
    return std::strcmp(Get(), text) == 0;
}

bool MString::operator==(const MString& other) const {
    return GetLength() == other.GetLength() && std::strcmp(Get(), other.Get()) == 0;
}

bool MString::operator!=(const char* text) const {
    return !(*this == text);
}

bool MString::operator!=(const MString& other) const {
    return !(*this == other);
}

bool MString::operator<(const MString& other) const {
    if (!text_ || !other.text_) return false;
    // strcmp compares as unsigned char.
    return std::strcmp(text_, other.text_) < 0;
}

bool MString::operator>(const MString& other) const {
    if (!text_ || !other.text_) return false;
    return std::strcmp(text_, other.text_) > 0;
}

bool MString::operator<=(const MString& other) const {
    return !(*this > other);
}

bool MString::operator>=(const MString& other) const {
    return !(*this < other);
}

char& MString::operator[](unsigned index) {
    if (text_ && index < static_cast<unsigned>(length_)) return text_[index];
    // Per thread, so that writes through it from several threads do not race; reset so a read gives NUL.
    static thread_local char scratch;
    scratch = '\0';
    return scratch;
}

char* MString::GetBuffer() {
    return text_;
}

bool MString::IsEmpty() const {
    return GetLength() == 0;
}

const char* MString::GetAt(unsigned index) const {
    if (text_ && index < static_cast<unsigned>(length_)) return text_ + index;
    return kEmptyText;
}

// ---- 35 to 47 -----------------------------------------------------------------------------------

int MString::Find(const char* sub, int start) const {
    if (!sub || !text_ || static_cast<unsigned>(start) >= static_cast<unsigned>(length_)) return -1;
    const char* hit = std::strstr(text_ + start, sub);
    return hit ? static_cast<int>(hit - text_) : -1;
}

int MString::Find(const char* sub) const {
    return Find(sub, 0);
}

int MString::FindChar(char c, int start, bool reverse) const {
    if (!text_ || static_cast<unsigned>(start) >= static_cast<unsigned>(length_)) return -1;
    if (reverse) {
        for (int i = start; i >= 0; --i)
            if (text_[i] == c) return i;
    } else {
        for (int i = start; i < length_; ++i)
            if (text_[i] == c) return i;
    }
    return -1;
}

int MString::FindChar(char c, bool reverse) const {
    int start = reverse && GetLength() > 0 ? GetLength() - 1 : 0;
    return FindChar(c, start, reverse);
}

void MString::SetBufferSize(int size) {
    Empty();
    // A negative size cannot be allocated; it leaves the string without buffer like 0 does.
    if (size <= 0) return;
    char* buffer = new char[size];
    buffer[0] = '\0';
    Adopt(buffer, size, 0);
}

bool MString::Insert(const char* text, int pos) {
    if (!text || pos < 0 || pos > GetLength()) return false;
    if (pos == GetLength()) {
        Append(text);
        return true;
    }
    size_t n = std::strlen(text);
    long long total = static_cast<long long>(length_) + static_cast<long long>(n);
    if (total >= INT_MAX) return false;
    char* buffer = new char[static_cast<size_t>(total) + 1];
    std::memcpy(buffer, text_, static_cast<size_t>(pos));
    std::memcpy(buffer + pos, text, n);
    std::memcpy(buffer + pos + n, text_ + pos, static_cast<size_t>(length_ - pos) + 1);
    Adopt(buffer, static_cast<int>(total) + 1, static_cast<int>(total));
    return true;
}

bool MString::Delete(int pos, int count) {
    if (pos < 0 || pos >= GetLength()) return false;
    // A negative count is malformed; nothing is removed.
    if (count < 0) return false;
    if (static_cast<long long>(pos) + count >= length_) {
        length_ = pos;
    } else {
        std::memmove(text_ + pos, text_ + pos + count, static_cast<size_t>(length_ - pos - count));
        length_ -= count;
    }
    text_[length_] = '\0';
    return true;
}

int MString::Replace(const char* what, const char* with) {
    // An empty pattern matches everywhere without advancing; there is nothing sensible to replace.
    if (!what || !with || *what == '\0' || !text_) return 0;
    size_t whatLength = std::strlen(what);
    std::string result;
    int count = 0;
    const char* scan = text_;
    while (const char* hit = std::strstr(scan, what)) {
        result.append(scan, static_cast<size_t>(hit - scan));
        result.append(with);
        scan = hit + whatLength;
        ++count;
    }
    if (count == 0) return 0;
    result.append(scan);
    Set(result.c_str());
    return count;
}

bool MString::Replace(int pos, int count, const char* with) {
    // The replacement may lie in this buffer, which the deletion moves.
    std::string copy;
    if (with && Holds(with)) {
        copy = with;
        with = copy.c_str();
    }
    if (!Delete(pos, count)) return false;
    return Insert(with, pos);
}

int MString::MakeUpper() {
    int changed = 0;
    for (int i = 0; i < GetLength(); ++i) {
        if (text_[i] >= 'a' && text_[i] <= 'z') {
            text_[i] = static_cast<char>(text_[i] - 'a' + 'A');
            ++changed;
        }
    }
    return changed;
}

int MString::MakeLower() {
    int changed = 0;
    for (int i = 0; i < GetLength(); ++i) {
        if (text_[i] >= 'A' && text_[i] <= 'Z') {
            text_[i] = static_cast<char>(text_[i] - 'A' + 'a');
            ++changed;
        }
    }
    return changed;
}

int MString::ToInt() const {
    if (IsEmpty()) return 0;
    // As atoi, but an out-of-range number saturates instead of being undefined.
    return ClampToInt(std::strtoll(text_, nullptr, 10));
}

double MString::ToDouble() const {
    if (IsEmpty()) return 0;
    return std::strtod(text_, nullptr);
}

// ---- 48 to 60 -----------------------------------------------------------------------------------

int MString::Trim(bool spacesOnly) {
    int removed = TrimLeft(spacesOnly);
    return removed + TrimRight(spacesOnly);
}

int MString::TrimLeft(bool spacesOnly) {
    int n = 0;
    while (n < GetLength() && IsBlank(text_[n], spacesOnly)) ++n;
    if (n > 0) Delete(0, n);
    return n;
}

int MString::TrimRight(bool spacesOnly) {
    int n = 0;
    while (n < GetLength() && IsBlank(text_[length_ - 1 - n], spacesOnly)) ++n;
    if (n > 0) {
        length_ -= n;
        text_[length_] = '\0';
    }
    return n;
}

int MString::Trim(char c) {
    int removed = TrimLeft(c);
    return removed + TrimRight(c);
}

int MString::TrimLeft(char c) {
    int n = 0;
    while (n < GetLength() && text_[n] == c) ++n;
    if (n > 0) Delete(0, n);
    return n;
}

int MString::TrimRight(char c) {
    int n = 0;
    while (n < GetLength() && text_[length_ - 1 - n] == c) ++n;
    if (n > 0) {
        length_ -= n;
        text_[length_] = '\0';
    }
    return n;
}

MString MString::Mid(int pos, int count) const {
    if (pos < 0 || pos >= GetLength() || count <= 0) return MString();
    return MString(text_ + pos, count);
}

int MString::Reverse() {
    int swaps = GetLength() / 2;
    for (int i = 0; i < swaps; ++i) {
        char c = text_[i];
        text_[i] = text_[length_ - 1 - i];
        text_[length_ - 1 - i] = c;
    }
    return swaps;
}

char* MString::Duplicate() const {
    char* copy = new char[GetLength() + 1];
    std::memcpy(copy, Get(), static_cast<size_t>(GetLength()) + 1);
    return copy;
}

int MString::Format(const char* format, ...) {
    if (!format) {
        Empty();
        return 0;
    }
    va_list args;
    va_start(args, format);
    va_list pass;
    va_copy(pass, args);
    int capacity = EstimateFormatLength(format, pass);
    va_end(pass);
    if (capacity < 1) capacity = 1;
    // Printed into a new buffer: an argument may be this string's own text.
    char* buffer = new char[capacity];
    va_copy(pass, args);
    int n = std::vsnprintf(buffer, static_cast<size_t>(capacity), format, pass);
    va_end(pass);
    if (n >= capacity && n < INT_MAX) {
        // The estimate fell short: print again into a buffer of the printed length.
        delete[] buffer;
        capacity = n + 1;
        buffer = new char[capacity];
        va_copy(pass, args);
        n = std::vsnprintf(buffer, static_cast<size_t>(capacity), format, pass);
        va_end(pass);
    }
    va_end(args);
    if (n < 0 || n >= capacity) {
        delete[] buffer;
        SetBufferSize(1);
        return 0;
    }
    Adopt(buffer, capacity, n);
    return n;
}

int MString::SetN(const char* text, unsigned size) {
    if (!text || size == 0) return 0;
    long long limit = size > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<long long>(size);
    // min(strlen + 1, size) without reading past `size` bytes.
    int copied = BoundedLength(text, limit - 1);
    char* buffer = new char[copied + 1];
    std::memcpy(buffer, text, static_cast<size_t>(copied));
    buffer[copied] = '\0';
    Adopt(buffer, copied + 1, copied);
    return copied;
}

bool MString::LoadString(platform::ModuleHandle module, int id) {
    Empty();
    int extra = 0;
    int count = 0;
    for (;;) {
        int size = extra + 1024;
        SetBufferSize(size);
        count = platform::LoadStringResource(module, id, text_, size);
        // A completely filled buffer may have cut the string: try again with more room.
        if (count != size - 1 || size > INT_MAX - 1024) break;
        extra += 1024;
    }
    if (count <= 0) {
        Empty();
        return false;
    }
    length_ = count;
    text_[length_] = '\0';
    FreeExtra();
    return true;
}

bool MString::IsNumber(bool integerOnly) const {
    if (!text_) return false;
    for (int i = 0; i < length_; ++i) {
        char c = text_[i];
        if ((c >= '0' && c <= '9') || c == '-') continue;
        if (!integerOnly && c == '.') continue;
        return false;
    }
    return true;
}
