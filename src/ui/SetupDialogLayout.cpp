#include "ui/SetupDialogLayout.h"

#include <tinyxml.h>

#include <algorithm>

#include "platform/Resources.h"

namespace ui {
namespace {

int Units(const TiXmlElement* element, const char* name, int fallback) {
    int value = fallback;
    if (element->QueryIntAttribute(name, &value) != TIXML_SUCCESS) return fallback;
    return std::min(std::max(value, 0), kMaxLayoutUnits);
}

std::string Text(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return value ? value : "";
}

}  // namespace

bool ParseDialogLayout(const char* text, DialogLayout* layout) {
    if (!text || !layout) return false;
    TiXmlDocument document;
    document.Parse(text, nullptr, TIXML_ENCODING_UTF8);
    if (document.Error()) return false;
    const TiXmlElement* root = document.RootElement();
    if (!root || root->ValueStr() != "Dialog") return false;

    DialogLayout result;
    result.caption = Text(root, "Caption");
    result.width = Units(root, "Width", 0);
    result.height = Units(root, "Height", 0);
    result.font = Text(root, "Font");
    result.pointSize = std::max(1, std::min(Units(root, "PointSize", 8), 72));
    for (const TiXmlElement* e = root->FirstChildElement("Control"); e;
         e = e->NextSiblingElement("Control")) {
        LayoutControl control;
        int id = -1;
        if (e->QueryIntAttribute("ID", &id) == TIXML_SUCCESS) control.id = id;
        control.kind = Text(e, "Class");
        if (control.kind != "Static" && control.kind != "Button" && control.kind != "Edit" &&
            control.kind != "ComboBox" && control.kind != "msctls_updown32") {
            continue;
        }
        control.text = Text(e, "Text");
        control.style = Text(e, "Style");
        control.x = Units(e, "X", 0);
        control.y = Units(e, "Y", 0);
        control.width = Units(e, "Width", 0);
        control.height = Units(e, "Height", 0);
        result.controls.push_back(control);
    }
    *layout = result;
    return true;
}

bool LoadSetupDialogLayout(DialogLayout* layout) {
    const platform::Resource* resource = platform::FindResource(
        platform::OwnModule(), platform::kResourceRcData, platform::kSetupDialogLayoutId);
    // Found resources end with a NUL, so the text is read in place.
    return resource && ParseDialogLayout(reinterpret_cast<const char*>(resource->data), layout);
}

}  // namespace ui
