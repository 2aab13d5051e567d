#include "server/AnswerReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "calendar/CalendarEventList.h"
#include "calendar/CalendarLocationList.h"
#include "calendar/CalendarVariableList.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarEvent.h"

namespace {

using json = nlohmann::json;

// A JSON number as a signed 32-bit integer: integers keep their low 32 bits, fractions are cut toward
// zero, and values no 32-bit integer can hold become the platform's "indefinite" integer.
int32_t FloatToInt32(double d) {
    if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(d);
}

int32_t Low32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// The value of one field of the element being read: unset until a value of the field's type arrives
// under its key; a later value under the same key starts it afresh.
struct Slot {
    bool isText;
    bool set = false;
    int32_t number = 0;
    std::string text;
};

struct FieldDef {
    const char* key;
    bool isText;
};

// ---- The three kinds of answer -----------------------------------------------------------------------

struct LocationKind {
    using Record = MCalendarLocation;
    static constexpr const char* kListKey = "locations";
    static constexpr FieldDef kFields[] = {{"location_id", false}, {"comment", true}, {"name", true}};
    std::unique_ptr<Record> Build(Slot* s) const {
        std::unique_ptr<Record> r(new Record());
        if (s[0].set) r->location_id = s[0].number;
        if (s[1].set) r->comment = std::move(s[1].text);
        if (s[2].set) r->name = std::move(s[2].text);
        return r;
    }
};

struct ActionKind {
    using Record = MCalendarEvent;
    static constexpr const char* kListKey = "calendaractions";
    static constexpr FieldDef kFields[] = {
        {"name", true}, {"macro", true}, {"date", true}, {"macro_action", false}, {"macro_data", true}};
    std::unique_ptr<Record> Build(Slot* s) const {
        std::unique_ptr<Record> r(new Record());
        if (s[0].set) r->name = std::move(s[0].text);
        if (s[1].set) r->macro = std::move(s[1].text);
        // A missing, empty or unusable date leaves the time at 0, which sorts before every dated action.
        if (s[2].set && !s[2].text.empty()) ParseEventTime(s[2].text.c_str(), r.get());
        if (s[3].set) r->macro_action = s[3].number;
        if (s[4].set) r->macro_data = std::move(s[4].text);
        return r;
    }
};

struct VariableKind {
    using Record = MCalendarVariable;
    static constexpr const char* kListKey = "variables";
    static constexpr FieldDef kFields[] = {
        {"var_type", false}, {"var_data", true}, {"variable_id", false}, {"name", true}};
    int locationId = 0;
    std::unique_ptr<Record> Build(Slot* s) const {
        const int32_t varType = s[0].set ? s[0].number : 0;
        std::unique_ptr<Record> r;
        if (varType == MCalendarVariable::kEnumType) {
            std::unique_ptr<MCalendarEnumVariable> e(new MCalendarEnumVariable());
            if (s[1].set) e->AppendItemsFromText(s[1].text.c_str());
            r = std::move(e);
        } else {
            r.reset(new MCalendarVariable());  // the "var_data" text of a plain variable is dropped
        }
        r->var_type = varType;
        if (s[2].set) r->variable_id = s[2].number;
        if (s[3].set) r->name = std::move(s[3].text);
        // The variable belongs to the location asked for, whatever the answer says.
        r->location_id = locationId;
        return r;
    }
};

// ---- The reader --------------------------------------------------------------------------------------

// Follows the nesting: depth 0 is the root, 1 the root's members, 2 the elements of the list member,
// 3 the fields of an element; anything deeper is passed over.
template <class Kind>
class AnswerSax final : public nlohmann::json_sax<json> {
public:
    using Record = typename Kind::Record;
    static constexpr size_t kFieldCount = sizeof(Kind::kFields) / sizeof(Kind::kFields[0]);

    explicit AnswerSax(const Kind& kind) : kind_(kind) {
        for (size_t i = 0; i < kFieldCount; ++i) slots_[i].isText = Kind::kFields[i].isText;
    }

    bool null() override { return Scalar(kNull, 0, nullptr); }
    bool boolean(bool value) override { return Scalar(kNumber, value ? 1 : 0, nullptr); }
    bool number_integer(json::number_integer_t value) override {
        return Scalar(kNumber, Low32(static_cast<uint64_t>(value)), nullptr);
    }
    bool number_unsigned(json::number_unsigned_t value) override { return Scalar(kNumber, Low32(value), nullptr); }
    bool number_float(json::number_float_t value, const json::string_t&) override {
        return Scalar(kNumber, FloatToInt32(value), nullptr);
    }
    bool string(json::string_t& value) override { return Scalar(kString, 0, &value); }
    bool binary(json::binary_t&) override { return Scalar(kOther, 0, nullptr); }
    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(json::string_t& key) override {
        if (depth_ == 1) {
            targetMember_ = key == Kind::kListKey;
        } else if (depth_ == 2 && inMember_) {
            elementKey_ = key;
        } else if (depth_ == 3 && inMember_ && elementIsObject_) {
            field_ = -1;
            for (size_t i = 0; i < kFieldCount; ++i) {
                if (key == Kind::kFields[i].key) {
                    field_ = static_cast<int>(i);
                    slots_[i].set = false;
                    break;
                }
            }
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    // After a successful parse: the records in list order.
    std::vector<std::unique_ptr<Record>> TakeRecords() {
        if (memberIsObject_) {
            // An object's members come in ascending key order, and a repeated key keeps its last value.
            std::stable_sort(elements_.begin(), elements_.end(),
                             [](const Element& a, const Element& b) { return a.first < b.first; });
        }
        std::vector<std::unique_ptr<Record>> records;
        records.reserve(elements_.size());
        for (size_t i = 0; i < elements_.size(); ++i) {
            if (memberIsObject_ && i + 1 < elements_.size() && elements_[i].first == elements_[i + 1].first) {
                continue;
            }
            records.push_back(std::move(elements_[i].second));
        }
        elements_.clear();
        return records;
    }

private:
    enum ValueType { kNull, kNumber, kString, kOther };
    using Element = std::pair<std::string, std::unique_ptr<Record>>;

    bool Scalar(ValueType type, int32_t number, json::string_t* text) {
        switch (depth_) {
            case 0:
                // A null root has no members; a root of any other type cannot be read.
                return type == kNull;
            case 1:
                if (targetMember_) {
                    StartMember(false);
                    if (type != kNull) AddElement();
                }
                return true;
            case 2:
                if (inMember_) {
                    ResetSlots();
                    AddElement();
                }
                return true;
            case 3:
                if (inMember_ && elementIsObject_ && field_ >= 0) {
                    Slot& slot = slots_[field_];
                    if (slot.isText && type == kString) {
                        slot.text = std::move(*text);
                        slot.set = true;
                    } else if (!slot.isText && type == kNumber) {
                        slot.number = number;
                        slot.set = true;
                    }
                }
                field_ = -1;
                return true;
            default:
                return true;
        }
    }

    bool Open(bool isObject) {
        switch (depth_) {
            case 0:
                if (!isObject) return false;
                break;
            case 1:
                if (targetMember_) {
                    StartMember(isObject);
                    inMember_ = true;
                }
                break;
            case 2:
                if (inMember_) {
                    elementIsObject_ = isObject;
                    ResetSlots();
                }
                break;
            case 3:
                field_ = -1;  // a container is no value of a field
                break;
            default:
                break;
        }
        ++depth_;
        return true;
    }

    bool Close() {
        --depth_;
        if (depth_ == 2 && inMember_) {
            AddElement();
        } else if (depth_ == 1) {
            inMember_ = false;
        }
        return true;
    }

    // A repeated list key replaces what an earlier one gave.
    void StartMember(bool isObject) {
        elements_.clear();
        memberIsObject_ = isObject;
        ResetSlots();
    }

    void ResetSlots() {
        for (size_t i = 0; i < kFieldCount; ++i) slots_[i].set = false;
        field_ = -1;
    }

    void AddElement() {
        elements_.emplace_back(memberIsObject_ ? elementKey_ : std::string(), kind_.Build(slots_));
        ResetSlots();
    }

    const Kind& kind_;
    int depth_ = 0;
    bool targetMember_ = false;
    bool inMember_ = false;
    bool memberIsObject_ = false;
    bool elementIsObject_ = false;
    int field_ = -1;
    std::string elementKey_;
    Slot slots_[kFieldCount];
    std::vector<Element> elements_;
};

template <class Kind>
bool Read(const std::string& body, const Kind& kind, std::vector<std::unique_ptr<typename Kind::Record>>* out) {
    AnswerSax<Kind> sax(kind);
    // Strict: the whole text must be one JSON value, without comments.
    if (!json::sax_parse(body, &sax, json::input_format_t::json, true, false)) return false;
    *out = sax.TakeRecords();
    return true;
}

}  // namespace

bool ReadLocationsAnswer(const std::string& body, CalendarLocationList* list) {
    std::vector<std::unique_ptr<MCalendarLocation>> records;
    if (!list || !Read(body, LocationKind(), &records)) return false;
    for (auto& r : records) {
        list->Add(r.get());
        r.release();
    }
    return true;
}

bool ReadActionsAnswer(const std::string& body, CalendarEventList* list) {
    std::vector<std::unique_ptr<MCalendarEvent>> records;
    if (!list || !Read(body, ActionKind(), &records)) return false;
    for (auto& r : records) {
        list->Add(r.get());
        r.release();
    }
    return true;
}

bool ReadVariablesAnswer(const std::string& body, int locationId, CalendarVariableList* list) {
    VariableKind kind;
    kind.locationId = locationId;
    std::vector<std::unique_ptr<MCalendarVariable>> records;
    if (!list || !Read(body, kind, &records)) return false;
    for (auto& r : records) {
        list->push_back(r.get());
        r.release();
    }
    return true;
}
