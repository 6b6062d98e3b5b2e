#include "forms/picture.h"

#include <ole2.h>
#include <olectl.h>

#include <cstring>

#include "forms/screen.h"
#include "host/system_dlls.h"
#include "runtime/error.h"
#include "runtime/handles.h"

namespace forms {

namespace {

constexpr int kInvalidPicture = 481;

template <typename Interface>
struct ComPtr {
    Interface* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
};

struct MemoryDc {
    HDC dc;
    HGDIOBJ old = nullptr;
    explicit MemoryDc(HDC reference) : dc(CreateCompatibleDC(reference)) {}
    void Select(HGDIOBJ object) { old = SelectObject(dc, object); }
    ~MemoryDc() {
        if (old != nullptr) SelectObject(dc, old);
        if (dc != nullptr) DeleteDC(dc);
    }
};

HBITMAP CreateDib(HDC reference, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

void LoadOlePicture(int id, ComPtr<IPicture>& picture) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
    const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) runtime::Raise(runtime::kResourceNotFound);
    const DWORD size = SizeofResource(module, found);

    // The loader reads from a stream, which owns its own copy of the bytes.
    runtime::GlobalMemory copy(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!copy) runtime::Raise(runtime::kOutOfMemory);
    std::memcpy(GlobalLock(copy.Get()), bytes, size);
    GlobalUnlock(copy.Get());
    ComPtr<IStream> stream;
    if (FAILED(host::dll::CreateStreamOnHGlobal(copy.Get(), TRUE, &stream.p))) runtime::Raise(runtime::kOutOfMemory);
    copy.Release();
    if (FAILED(host::dll::OleLoadPicture(stream.p, static_cast<LONG>(size), FALSE, IID_IPicture,
                                         reinterpret_cast<void**>(&picture.p)))) {
        runtime::Raise(kInvalidPicture);
    }
}

}  // namespace

Picture Picture::FromJpegResource(int id) {
    ComPtr<IPicture> picture;
    LoadOlePicture(id, picture);
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture.p->get_Width(&himetricWidth);
    picture.p->get_Height(&himetricHeight);
    // The picture's own size in pixels, from the decoded bitmap: its size in
    // HIMETRIC depends on the display's DPI. Then scaled like the twips.
    OLE_HANDLE handle = 0;
    BITMAP decoded{};
    picture.p->get_Handle(&handle);
    if (GetObjectW(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle)), sizeof decoded, &decoded) == 0) {
        runtime::Raise(kInvalidPicture);
    }
    const int nativeWidth = decoded.bmWidth;
    const int nativeHeight = decoded.bmHeight;
    const int width = MulDiv(nativeWidth, ScreenDpi(), 96);
    const int height = MulDiv(nativeHeight, ScreenDpi(), 96);

    const HDC screen = GetDC(nullptr);
    Picture result;
    result.bitmap_.Reset(CreateDib(screen, width, height));
    if (!result.bitmap_) {
        ReleaseDC(nullptr, screen);
        runtime::Raise(runtime::kOutOfMemory);
    }
    {
        MemoryDc target(screen);
        target.Select(result.bitmap_.Get());
        if (width == nativeWidth && height == nativeHeight) {
            picture.p->Render(target.dc, 0, 0, width, height, 0, himetricHeight, himetricWidth, -himetricHeight,
                              nullptr);
        } else {
            // Scaled once, smoothly, from a copy at the picture's own size.
            runtime::GdiObject native(CreateDib(screen, nativeWidth, nativeHeight));
            MemoryDc source(screen);
            source.Select(native.Get());
            picture.p->Render(source.dc, 0, 0, nativeWidth, nativeHeight, 0, himetricHeight, himetricWidth,
                              -himetricHeight, nullptr);
            SetStretchBltMode(target.dc, HALFTONE);
            SetBrushOrgEx(target.dc, 0, 0, nullptr);
            StretchBlt(target.dc, 0, 0, width, height, source.dc, 0, 0, nativeWidth, nativeHeight, SRCCOPY);
        }
    }
    ReleaseDC(nullptr, screen);
    result.brush_.Reset(CreatePatternBrush(static_cast<HBITMAP>(result.bitmap_.Get())));
    result.size_ = SIZE{width, height};
    return result;
}

}  // namespace forms
