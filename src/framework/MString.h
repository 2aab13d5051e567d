// The framework's growable NUL-terminated ANSI text. A plain value: it owns its buffer and nothing else,
// and is not shared between threads without the owner's lock.
//
// Without a buffer (capacity 0) every reading operation behaves as on the empty text; Get never returns
// null. With a buffer, the character at GetLength() is the terminator and the length is below the capacity.
// The sixty virtual operations keep their order below; the assignment operators are plain C++ extras.
#pragma once

#include <cstdarg>

#include "platform/Resources.h"

#if defined(__GNUC__)
#define ZRK_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define ZRK_PRINTF_FORMAT(fmt, first)
#endif

class MString {
public:
    MString();
    MString(const char* text);  // NOLINT: a text converts to a string wherever one is expected
    MString(const char* text, int maxLength);
    MString(const MString& other);
    MString(MString&& other) noexcept;
    explicit MString(int value);
    // The value with `digits` significant digits in the runtime's short form: trailing zeros dropped, the
    // decimal point kept ("3." for 3.0), an exponent when the value is too large or small for the digits.
    MString(double value, int digits);
    // With `fixed`: `decimals` decimals, the value first nudged away from zero by 1e-15 so that halves
    // round outward (2.5 with 0 decimals gives "3"); without: as above with `decimals` significant digits.
    MString(double value, unsigned short decimals, bool fixed);

    MString& operator=(const MString& other);
    MString& operator=(MString&& other) noexcept;
    MString& operator=(const char* text);

    virtual MString& Empty();                                            // 1
    virtual void Append(const char* text);                               // 2
    virtual void Append(const char* text, int count);                    // 3
    virtual void AppendChar(char c);                                     // 4
    virtual void Append(const MString& other);                           // 5
    virtual int EstimateFormatLength(const char* format, va_list args);  // 6
    virtual void FreeExtra();                                            // 7
    virtual ~MString();                                                  // 8
    virtual MString* Clone() const;                                      // 9
    virtual const char* Get() const;                                     // 10
    virtual int GetLength() const;                                       // 11
    virtual void Set(const MString& other);                              // 12
    virtual void Set(const char* text);                                  // 13
    virtual MString& operator+=(const MString& other);                   // 14
    virtual MString& operator+=(double value);                           // 15
    virtual MString& operator+=(int value);                              // 16
    virtual MString& operator+=(char c);                                 // 17
    virtual MString& operator+=(const char* text);                       // 18
    virtual MString operator+(const MString& other) const;               // 19
    virtual MString operator+(double value) const;                       // 20
    virtual MString operator+(int value) const;                          // 21
    virtual MString operator+(const char* text) const;                   // 22
    virtual bool operator==(const char* text) const;                     // 23
    virtual bool operator==(const MString& other) const;                 // 24
    virtual bool operator!=(const char* text) const;                     // 25
    virtual bool operator!=(const MString& other) const;                 // 26
    // Ordering compares bytes as unsigned; a side without buffer makes < and > false.
    virtual bool operator<(const MString& other) const;   // 27
    virtual bool operator>(const MString& other) const;   // 28
    virtual bool operator<=(const MString& other) const;  // 29
    virtual bool operator>=(const MString& other) const;  // 30
    // Out of range: a scratch character of the calling thread, reset to NUL on each such call.
    virtual char& operator[](unsigned index);                     // 31
    virtual char* GetBuffer();                                    // 32
    virtual bool IsEmpty() const;                                 // 33
    virtual const char* GetAt(unsigned index) const;              // 34
    virtual int Find(const char* sub, int start) const;           // 35
    virtual int Find(const char* sub) const;                      // 36
    virtual int FindChar(char c, int start, bool reverse) const;  // 37
    virtual int FindChar(char c, bool reverse) const;             // 38
    virtual void SetBufferSize(int size);                         // 39
    virtual bool Insert(const char* text, int pos);               // 40
    virtual bool Delete(int pos, int count);                      // 41
    virtual int Replace(const char* what, const char* with);      // 42
    virtual bool Replace(int pos, int count, const char* with);   // 43
    virtual int MakeUpper();                                      // 44
    virtual int MakeLower();                                      // 45
    virtual int ToInt() const;                                    // 46
    virtual double ToDouble() const;                              // 47
    // Blanks: the space only, or with spacesOnly clear every byte that is at most 32 as a signed byte
    // (space, control characters and 0x80..0xFF).
    virtual int Trim(bool spacesOnly);              // 48
    virtual int TrimLeft(bool spacesOnly);          // 49
    virtual int TrimRight(bool spacesOnly);         // 50
    virtual int Trim(char c);                       // 51
    virtual int TrimLeft(char c);                   // 52
    virtual int TrimRight(char c);                  // 53
    virtual MString Mid(int pos, int count) const;  // 54
    virtual int Reverse();                          // 55
    // A new array (length + 1 bytes) that the caller frees with delete[].
    virtual char* Duplicate() const;                                      // 56
    virtual int Format(const char* format, ...) ZRK_PRINTF_FORMAT(2, 3);  // 57
    virtual int SetN(const char* text, unsigned size);                    // 58
    virtual bool LoadString(platform::ModuleHandle module, int id);       // 59
    virtual bool IsNumber(bool integerOnly) const;                        // 60

    // Bytes allocated, terminator included; 0 without buffer.
    int GetCapacity() const { return capacity_; }

private:
    // Takes ownership of a buffer holding `length` characters and a terminator.
    void Adopt(char* buffer, int capacity, int length);
    bool Holds(const char* p) const;

    char* text_ = nullptr;
    int capacity_ = 0;
    int length_ = 0;
};
