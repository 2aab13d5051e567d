// Opaque handles that cross the host boundary. Each stands for the platform's own handle type (a bitmap,
// a top-level window); neither side looks inside the other's.
#pragma once

// A device bitmap owned by the device that hands it out.
typedef struct ZrkBitmapObject* ZrkBitmapHandle;

// A top-level window of the host (the owner of the plug-in's modal dialogs); null when the host has none.
typedef struct ZrkWindowObject* ZrkWindowHandle;

// A colour as the platform stores it: 0x00BBGGRR.
typedef unsigned int ZrkColour;
