// A setup dialog view in memory: it keeps what the presenter shows and lets a test type and pick.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/ISetupDialogView.h"

class MCalendarStore;

namespace ui_test {

class FakeSetupView : public ui::ISetupDialogView {
public:
    void SetText(int id, const std::string& text) override { texts[id] = text; }
    std::string GetText(int id, size_t maxChars) override { return texts[id].substr(0, maxChars); }
    bool GetExactText(int id, size_t maxChars, std::string* text) override {
        if (inexact.count(id) != 0) return false;
        *text = GetText(id, maxChars);
        return true;
    }
    void SetSpinRange(int id, int low, int high) override { ranges[id] = {low, high}; }
    void ComboReset(int id) override {
        combos[id].clear();
        selections[id] = -1;
    }
    void ComboInsert(int id, int index, const std::string& text) override {
        auto& list = combos[id];
        list.insert(list.begin() + index, text);
    }
    void ComboSelect(int id, int index) override { selections[id] = index; }
    int ComboSelection(int id) override {
        auto it = selections.find(id);
        return it == selections.end() ? -1 : it->second;
    }
    void SetStatus(const std::string& text) override {
        statuses.push_back(text);
        if (onStatus) onStatus(text);
    }
    bool GetWindowRect(ui::ScreenRect* rect) override {
        *rect = window;
        return true;
    }
    bool GetWorkArea(ui::ScreenRect* area) override {
        *area = workArea;
        return hasWorkArea;
    }
    void MoveTo(int x, int y) override {
        window = ui::ScreenRect{x, y, x + window.right - window.left, y + window.bottom - window.top};
        moves.push_back({x, y});
    }
    void EndDialog(int result) override { ended.push_back(result); }

    // The user picks the entry with that text; false when it is not listed.
    bool Pick(int id, const std::string& text) {
        const auto& list = combos[id];
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i] == text) {
                selections[id] = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
    std::string Selected(int id) {
        const int index = ComboSelection(id);
        return index < 0 ? std::string("<none>") : combos[id].at(index);
    }

    std::map<int, std::string> texts;
    // Controls whose text the code page cannot hold exactly.
    std::set<int> inexact;
    std::map<int, std::pair<int, int>> ranges;
    std::map<int, std::vector<std::string>> combos;
    std::map<int, int> selections;
    std::vector<std::string> statuses;
    std::vector<std::pair<int, int>> moves;
    std::vector<int> ended;
    ui::ScreenRect window{0, 0, 400, 300};
    ui::ScreenRect workArea{0, 0, 1920, 1080};
    bool hasWorkArea = true;
    std::function<void(const std::string&)> onStatus;
};

}  // namespace ui_test
