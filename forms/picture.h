// A background picture: a JPEG resource decoded by the system's OLE picture
// loader, drawn unscaled at 96 DPI and scaled like the twips elsewhere.
#pragma once

#include <windows.h>

#include "runtime/handles.h"

namespace forms {

class Picture {
public:
    Picture() = default;
    // Decodes the RCDATA resource; a missing resource raises error 326 and a
    // picture that cannot be decoded raises error 481.
    static Picture FromJpegResource(int id);

    // A brush that paints the picture from a given origin; empty when no picture.
    HBRUSH Brush() const { return static_cast<HBRUSH>(brush_.Get()); }
    SIZE Size() const { return size_; }

private:
    runtime::GdiObject bitmap_;
    runtime::GdiObject brush_;
    SIZE size_{};
};

}  // namespace forms
