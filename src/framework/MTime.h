// A signed time of day or duration counted in the units of a time base, with the fixed text form
// hh:mm:ss/ff ("/fff" for milliseconds, '-' in front when negative; hours are not wrapped at 24).
// A plain value: it owns its two text buffers and nothing else; a second text call overwrites the first.
#pragma once

class MTime {
public:
    // Time bases. Hundredths of a second are the pivot of every conversion between them.
    enum : int {
        kBase24Fps = 0,
        kBase25Fps = 1,
        kBase30Fps = 2,
        kBase30FpsDrop = 3,  // 30 frames per second counted with dropped frame numbers
        kBaseHundredths = 4,
        kBaseMilliseconds = 5,
    };
    // Bytes of each text buffer. The longest text of any 32-bit value in any base is 15 characters
    // ("-24855:08:05/08", base 0), so every text fits with its terminator.
    static constexpr int kTextSize = 16;

    MTime();
    explicit MTime(int value);
    // Takes base, value and display base.
    MTime(const MTime& other);
    // Takes base and value; the display base stays as it is.
    MTime& operator=(const MTime& other);
    virtual ~MTime();

    // Values only; the bases are not compared.
    bool operator==(const MTime& other) const { return value_ == other.value_; }

    // The field is stored as given (the value is not converted); true when it changed.
    bool SetBase(int base);
    bool SetValue(int value);
    int GetBase() const { return base_; }
    int GetValue() const { return value_; }
    void SetDisplayBase(int base) { displayBase_ = base; }
    int GetDisplayBase() const { return displayBase_; }

    // Parses in the value's own base; true when the value changed.
    bool SetFromText(const char* text);
    const char* ToText() const;
    const char* ToDisplayText() const;
    int GetDisplayValue() const;

    // Fields of the value in its own base (of its magnitude).
    int GetHours() const;
    int GetMinutes() const;
    int GetSeconds() const;
    int GetFrames() const;
    // Fields read back from the display text.
    int GetDisplayHours() const;
    int GetDisplayMinutes() const;
    int GetDisplaySeconds() const;
    int GetDisplayFrames() const;

    // The current time of day of the system clock in UTC; true when the value changed.
    bool SetToSystemTime();
    bool SetHMSF(int h, int m, int s, int f);

    // Hours, minutes, seconds and sub-units of |value|; all 0 for an unknown base.
    static void Split(int value, int& h, int& m, int& s, int& f, int base);
    // Writes the text form into `out`, which holds kTextSize bytes; "00:00:00/00" for an unknown base.
    static void Format(int value, char* out, int base);
    // False only for a null text; otherwise the value is set. Reads at most 15 characters.
    static bool Parse(const char* text, int* value, int base);
    // Conversions through hundredths; results beyond the 32-bit range are held at its ends.
    static int ToHundredths(int value, int base);
    static int FromHundredths(int value, int base);

private:
    int DisplayField(int index) const;

    int base_ = kBaseHundredths;
    int value_ = 0;
    mutable char text_[kTextSize] = {};
    mutable char displayText_[kTextSize] = {};
    int displayBase_ = kBaseHundredths;
};
