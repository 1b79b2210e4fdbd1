// A dialog without a screen: the controls of a template by id, with what an
// operator does to them (typing, clicking, moving a slider).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "orvo/setup/dialog_controls.h"

namespace orvo::test {

class FakeControls : public DialogControls {
  public:
    struct Slider {
        int min = 0;
        int max = 100;
        int pos = 0;
    };

    // The ids the template has; a request for any other id is a failure.
    FakeControls(std::set<int> ids, std::string caption) : ids_(std::move(ids)) {
        caption_ = std::move(caption);
    }

    void SetItemText(int id, const std::string& text) override {
        Known(id);
        text_[id] = text;
        // An edit that shows text of another code page with stand-ins.
        if (lossy_.count(id)) {
            for (char& c : text_[id]) {
                if (static_cast<unsigned char>(c) >= 0x80) c = '?';
            }
        }
    }
    std::string ItemText(int id, std::size_t bufferSize) override {
        Known(id);
        return bufferSize == 0 ? std::string() : text_[id].substr(0, bufferSize - 1);
    }
    void SetChecked(int id, bool checked) override {
        Known(id);
        checked_[id] = checked;
    }
    bool IsChecked(int id) override {
        Known(id);
        return checked_[id];
    }
    void Enable(int id, bool enabled) override {
        Known(id);
        disabled_[id] = !enabled;
    }
    void SetSliderRange(int id, int min, int max) override {
        Known(id);
        Slider& s = sliders_[id];
        s.min = min;
        s.max = max;
        s.pos = std::clamp(s.pos, min, max);
    }
    void SetSliderPos(int id, int pos) override {
        Known(id);
        Slider& s = sliders_[id];
        s.pos = std::clamp(pos, s.min, s.max);
    }
    int SliderPos(int id) override {
        Known(id);
        return sliders_[id].pos;
    }
    std::string Caption(std::size_t bufferSize) override {
        return bufferSize == 0 ? std::string() : caption_.substr(0, bufferSize - 1);
    }
    void SetCaption(const std::string& text) override { caption_ = text; }
    void EndDialog(int result) override {
        EXPECT_FALSE(ended_.has_value()) << "dialog ended twice";
        ended_ = result;
    }

    // What the dialog shows.
    std::string Text(int id) const { return Get(text_, id, std::string()); }
    bool Checked(int id) const { return Get(checked_, id, false); }
    bool Enabled(int id) const { return !Get(disabled_, id, false); }
    Slider SliderAt(int id) const { return Get(sliders_, id, Slider{}); }
    const std::string& CaptionText() const { return caption_; }
    std::optional<int> Ended() const { return ended_; }

    void MakeLossy(int id) { lossy_.insert(id); }

    // What the operator does. A click on a disabled control does nothing.
    void Type(int id, const std::string& text) {
        ASSERT_TRUE(ids_.count(id)) << id;
        text_[id] = text;
    }
    void Click(DialogProcedure& procedure, int id) {
        ASSERT_TRUE(ids_.count(id)) << id;
        if (!Enabled(id)) return;
        procedure.OnCommand(*this, id);
    }
    void MoveSlider(DialogProcedure& procedure, int id, int pos) {
        ASSERT_TRUE(ids_.count(id)) << id;
        SetSliderPos(id, pos);
        procedure.OnSliderEnd(*this, id);
    }

  private:
    template <class Map, class Value>
    static Value Get(const Map& map, int id, Value fallback) {
        auto it = map.find(id);
        return it == map.end() ? fallback : it->second;
    }
    void Known(int id) const { EXPECT_TRUE(ids_.count(id)) << "no control " << id; }

    std::set<int> ids_;
    std::set<int> lossy_;
    std::map<int, std::string> text_;
    std::map<int, bool> checked_;
    std::map<int, bool> disabled_;
    std::map<int, Slider> sliders_;
    std::string caption_;
    std::optional<int> ended_;
};

// The control ids of the two templates.
inline std::set<int> SetupTemplateIds() {
    std::set<int> ids = {1, 2, 1031, 1037};
    for (int id = 1001; id <= 1005; ++id) ids.insert(id);
    for (int id = 1014; id <= 1030; ++id) ids.insert(id);
    for (int id = 1045; id <= 1063; ++id) ids.insert(id);
    return ids;
}

inline std::set<int> QaTemplateIds() {
    return {1,    2,    1000, 1001, 1002, 1003, 1006, 1007, 1008, 1009, 1010, 1011, 1012,
            1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1024, 1025};
}

}  // namespace orvo::test
