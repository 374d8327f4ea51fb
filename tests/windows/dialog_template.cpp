#include "dialog_template.h"

#include <cstring>

namespace {

// A bounds-checked cursor over the template's WORD-aligned fields.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }

    template <typename T>
    T Read()
    {
        T value{};
        if (pos_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        memcpy(&value, data_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return value;
    }

    std::wstring ReadString()
    {
        std::wstring text;
        for (;;) {
            uint16_t c = Read<uint16_t>();
            if (!ok_ || c == 0) return text;
            text.push_back(static_cast<wchar_t>(c));
        }
    }

    // A name-or-ordinal field: 0 is absent, 0xFFFF precedes an ordinal.
    std::wstring ReadNameOrOrdinal()
    {
        uint16_t first = Read<uint16_t>();
        if (first == 0) return L"";
        if (first == 0xFFFF) return L"#" + std::to_wstring(Read<uint16_t>());
        std::wstring text(1, static_cast<wchar_t>(first));
        return text + ReadString();
    }

    void AlignTo(size_t n) { pos_ = (pos_ + n - 1) / n * n; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::wstring ClassName(const std::wstring& raw)
{
    static const struct { const wchar_t* ordinal; const wchar_t* name; } kPredefined[] = {
        {L"#128", L"Button"}, {L"#129", L"Edit"}, {L"#130", L"Static"},
        {L"#131", L"ListBox"}, {L"#132", L"ScrollBar"}, {L"#133", L"ComboBox"},
    };
    for (const auto& entry : kPredefined) {
        if (raw == entry.ordinal) return entry.name;
    }
    return raw;
}

}  // namespace

bool ParseDialogTemplateEx(const uint8_t* data, size_t size, DialogTemplate* out)
{
    Reader in(data, size);
    if (in.Read<uint16_t>() != 1 || in.Read<uint16_t>() != 0xFFFF) return false;
    in.Read<uint32_t>();  // help id
    out->exStyle = in.Read<uint32_t>();
    out->style = in.Read<uint32_t>();
    uint16_t count = in.Read<uint16_t>();
    out->x = in.Read<int16_t>();
    out->y = in.Read<int16_t>();
    out->cx = in.Read<int16_t>();
    out->cy = in.Read<int16_t>();
    out->menu = in.ReadNameOrOrdinal();
    out->windowClass = in.ReadNameOrOrdinal();
    out->title = in.ReadString();
    const uint32_t kSetFont = 0x40;
    if (out->style & kSetFont) {
        out->pointSize = in.Read<uint16_t>();
        out->weight = in.Read<uint16_t>();
        in.Read<uint8_t>();  // italic
        in.Read<uint8_t>();  // character set
        out->typeface = in.ReadString();
    }
    out->items.clear();
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        in.AlignTo(4);
        DialogItem item;
        in.Read<uint32_t>();  // help id
        item.exStyle = in.Read<uint32_t>();
        item.style = in.Read<uint32_t>();
        item.x = in.Read<int16_t>();
        item.y = in.Read<int16_t>();
        item.cx = in.Read<int16_t>();
        item.cy = in.Read<int16_t>();
        item.id = in.Read<uint32_t>();
        item.windowClass = ClassName(in.ReadNameOrOrdinal());
        item.text = in.ReadNameOrOrdinal();
        uint16_t extra = in.Read<uint16_t>();
        for (uint16_t b = 0; b < extra; ++b) in.Read<uint8_t>();
        out->items.push_back(item);
    }
    return in.ok();
}
