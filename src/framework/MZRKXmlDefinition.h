// The device's XML definition (its commands and variables), loaded from the plug-in's resources so that
// the module can hand it to the host.
#pragma once

#include "platform/Resources.h"

class MZRKXmlDefinition {
public:
    // The resource that holds the calendar device's definition.
    static constexpr int kDefinitionResourceId = 10000;

    MZRKXmlDefinition() = default;
    virtual ~MZRKXmlDefinition();

    // Drops any held text, then copies the RCDATA resource `id` of `module` and adds a terminating NUL.
    // False (and no text held) when the resource does not exist.
    virtual bool LoadFromResource(platform::ModuleHandle module, int id);
    // The held text, or null when nothing is loaded.
    virtual const char* GetText();
    // Drops the held text and keeps a copy of `text`; null leaves no text.
    virtual void SetText(const char* text);

    MZRKXmlDefinition(const MZRKXmlDefinition&) = delete;
    MZRKXmlDefinition& operator=(const MZRKXmlDefinition&) = delete;

private:
    char* text_ = nullptr;
};
