// The 32-bit release exe read back as a file: header, imports and every resource, checked
// against what the program must carry (never against the resource script).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "support/win_helpers.h"

namespace {

std::wstring ReleaseExePath()
{
    std::wstring path = WideUtf8(RELEASE_EXE);  // fixed by the build (DOWNLOAD_RELEASE_EXE)
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;  // a path of the Linux build machine, seen through Wine's drive Z:
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

class ReleaseExe : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ReadFileBytes(ReleaseExePath(), image);
        module = LoadLibraryExW(ReleaseExePath().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (module)
            FreeLibrary(module);
    }

    void SetUp() override
    {
        ASSERT_GT(image.size(), 1024u) << "release exe not found: " << Narrow(ReleaseExePath());
        ASSERT_TRUE(module);
    }

    template <typename T>
    static T At(size_t offset)
    {
        T value;
        std::memcpy(&value, image.data() + offset, sizeof value);
        return value;
    }
    static size_t NtHeaders() { return At<DWORD>(0x3C); }
    static IMAGE_FILE_HEADER FileHeader() { return At<IMAGE_FILE_HEADER>(NtHeaders() + 4); }
    static IMAGE_OPTIONAL_HEADER32 OptionalHeader() { return At<IMAGE_OPTIONAL_HEADER32>(NtHeaders() + 24); }

    static size_t RvaToOffset(DWORD rva)
    {
        const size_t sections = NtHeaders() + 24 + FileHeader().SizeOfOptionalHeader;
        for (WORD i = 0; i < FileHeader().NumberOfSections; ++i) {
            const auto s = At<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    }

    static std::string Resource(LPCWSTR type, LPCWSTR name, WORD language = 1033)
    {
        const HRSRC found = FindResourceExW(module, type, name, language);
        if (!found)
            return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }

    static std::string image;
    static HMODULE module;
};

std::string ReleaseExe::image;
HMODULE ReleaseExe::module = nullptr;

// Reads the little structures of dialog and version resources.
class Reader {
public:
    explicit Reader(const std::string& data) : data_(data) {}
    template <typename T>
    T Take()
    {
        T value{};
        if (at_ + sizeof(T) <= data_.size())
            std::memcpy(&value, data_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    std::wstring String()
    {
        std::wstring text;
        for (wchar_t c; (c = Take<wchar_t>()) != 0 && at_ <= data_.size();)
            text += c;
        return text;
    }
    // A name that is either 0xFFFF and an ordinal, or a string; ordinals come back as "#n".
    std::wstring StringOrOrdinal()
    {
        const WORD first = Take<WORD>();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Take<WORD>());
        at_ -= 2;
        return String();
    }
    void Align(size_t to) { at_ = (at_ + to - 1) / to * to; }
    size_t Offset() const { return at_; }
    void Seek(size_t at) { at_ = at; }

private:
    const std::string& data_;
    size_t at_ = 0;
};

struct Control {
    DWORD style;
    DWORD exStyle;
    DWORD helpId;
    short x, y, cx, cy;
    int id;
    std::wstring className;
    std::wstring text;
};

struct Dialog {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    std::wstring menu, className, caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring font;
    std::vector<Control> controls;
};

Dialog ParseDialog(const std::string& data)
{
    Reader r(data);
    Dialog d{};
    d.version = r.Take<WORD>();
    d.signature = r.Take<WORD>();
    d.helpId = r.Take<DWORD>();
    d.exStyle = r.Take<DWORD>();
    d.style = r.Take<DWORD>();
    const WORD count = r.Take<WORD>();
    d.x = r.Take<short>(); d.y = r.Take<short>(); d.cx = r.Take<short>(); d.cy = r.Take<short>();
    d.menu = r.StringOrOrdinal();
    d.className = r.StringOrOrdinal();
    d.caption = r.String();
    d.pointSize = r.Take<WORD>();
    d.weight = r.Take<WORD>();
    d.italic = r.Take<BYTE>();
    d.charset = r.Take<BYTE>();
    d.font = r.String();
    for (WORD i = 0; i < count; ++i) {
        r.Align(4);
        Control c{};
        c.helpId = r.Take<DWORD>();
        c.exStyle = r.Take<DWORD>();
        c.style = r.Take<DWORD>();
        c.x = r.Take<short>(); c.y = r.Take<short>(); c.cx = r.Take<short>(); c.cy = r.Take<short>();
        c.id = static_cast<int>(r.Take<DWORD>());
        c.className = r.StringOrOrdinal();
        c.text = r.StringOrOrdinal();
        const WORD extra = r.Take<WORD>();
        r.Seek(r.Offset() + extra);
        d.controls.push_back(c);
    }
    return d;
}

// A control class as Windows matches it: standard classes may be stored as ordinals, and
// class names are compared without regard to case (the resource compiler upper-cases them).
std::wstring ClassName(const std::wstring& stored)
{
    if (stored == L"#128") return L"BUTTON";
    if (stored == L"#129") return L"EDIT";
    if (stored == L"#130") return L"STATIC";
    std::wstring upper = stored;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    return upper;
}

struct VersionNode {
    std::wstring key;
    std::string value;  // raw bytes
    WORD type;
    std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const std::string& data, size_t at)
{
    Reader r(data);
    r.Seek(at);
    VersionNode node;
    const WORD length = r.Take<WORD>();
    const WORD valueLength = r.Take<WORD>();
    node.type = r.Take<WORD>();
    node.key = r.String();
    r.Align(4);
    const size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    node.value = data.substr(r.Offset(), valueBytes);
    r.Seek(r.Offset() + valueBytes);
    r.Align(4);
    while (r.Offset() < at + length) {
        const size_t childAt = r.Offset();
        const WORD size = r.Take<WORD>();
        if (size == 0)
            break;
        node.children.push_back(ParseVersionNode(data, childAt));
        r.Seek(childAt + size);
        r.Align(4);
    }
    return node;
}

std::wstring StringValue(const VersionNode& node)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(node.value.data()), node.value.size() / 2);
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

}  // namespace

TEST_F(ReleaseExe, IsA32BitLargeAddressAwareGuiProgram)
{
    EXPECT_EQ(FileHeader().Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(OptionalHeader().Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(OptionalHeader().Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_TRUE(FileHeader().Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
    std::printf("release exe: %zu bytes\n", image.size());
}

TEST_F(ReleaseExe, ImportsOnlyKnownSystemDlls)
{
    const IMAGE_DATA_DIRECTORY imports = OptionalHeader().DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u);
    std::set<std::string> names;
    for (size_t at = RvaToOffset(imports.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto entry = At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (entry.Name == 0)
            break;
        std::string name = image.c_str() + RvaToOffset(entry.Name);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        names.insert(name);
    }
    // All of these are known DLLs, which Windows never takes from the program's folder;
    // WinINet and the common controls are loaded from System32 at run time instead.
    const std::set<std::string> expected = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
                                            "oleaut32.dll", "shell32.dll", "user32.dll"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(OptionalHeader().DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u);
}

TEST_F(ReleaseExe, ManifestAsksForAdministratorAndNothingElse)
{
    const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* needed : {"urn:schemas-microsoft-com:asm.v1", "manifestVersion=\"1.0\"",
                               "urn:schemas-microsoft-com:asm.v3", "<trustInfo", "<security>",
                               "<requestedPrivileges>", "level=\"requireAdministrator\"", "uiAccess=\"false\""})
        EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
    for (const char* absent : {"dependency", "Common-Controls", "compatibility", "dpiAware", "dpiAwareness"})
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
}

TEST_F(ReleaseExe, VersionBlockHoldsTheFixedPartAndTheStringsInOrder)
{
    const std::string block = Resource(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(block.empty());
    const VersionNode root = ParseVersionNode(block, 0);
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x000C0000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x000C0000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0u);
    EXPECT_EQ(fixed.dwFileType, 0u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS, 0u);
    EXPECT_EQ(fixed.dwFileDateLS, 0u);

    const VersionNode* strings = nullptr;
    const VersionNode* vars = nullptr;
    for (const VersionNode& child : root.children) {
        if (child.key == L"StringFileInfo") strings = &child;
        if (child.key == L"VarFileInfo") vars = &child;
    }
    ASSERT_TRUE(strings && vars);
    ASSERT_EQ(strings->children.size(), 1u);
    EXPECT_EQ(strings->children[0].key, L"040904B0");
    std::vector<std::wstring> keys;
    std::map<std::wstring, std::wstring> values;
    for (const VersionNode& entry : strings->children[0].children) {
        keys.push_back(entry.key);
        values[entry.key] = StringValue(entry);
    }
    const std::vector<std::wstring> order = {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                             L"OriginalFilename", L"ProductName", L"ProductVersion", L"LegalCopyright"};
    EXPECT_EQ(keys, order);
    EXPECT_EQ(values[L"FileDescription"], L"Download and Setup");
    EXPECT_EQ(values[L"FileVersion"], L"12.0.0.0");
    EXPECT_EQ(values[L"OriginalFilename"], L"Download.exe");
    EXPECT_EQ(values[L"ProductName"], L"Setup");
    EXPECT_EQ(values[L"ProductVersion"], L"12.0.0.0");
    for (const wchar_t* filled : {L"CompanyName", L"InternalName", L"LegalCopyright"})
        EXPECT_FALSE(values[filled].empty()) << Narrow(filled);

    ASSERT_EQ(vars->children.size(), 1u);
    EXPECT_EQ(vars->children[0].key, L"Translation");
    ASSERT_EQ(vars->children[0].value.size(), 4u);
    EXPECT_EQ(vars->children[0].value, std::string("\x09\x04\xB0\x04", 4));
}

TEST_F(ReleaseExe, HasOneIconGroupOfEightImages)
{
    int groups = 0;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14), [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
        ++*reinterpret_cast<int*>(count);
        return TRUE;
    }, reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, 1);
    const std::string group = Resource(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(101));
    ASSERT_GE(group.size(), 6u);
    Reader r(group);
    r.Take<WORD>();
    EXPECT_EQ(r.Take<WORD>(), 1);
    const WORD count = r.Take<WORD>();
    std::multiset<std::pair<int, int>> images;  // size, bits per pixel
    for (WORD i = 0; i < count; ++i) {
        const BYTE width = r.Take<BYTE>(), height = r.Take<BYTE>();
        r.Take<BYTE>(); r.Take<BYTE>(); r.Take<WORD>();
        const WORD bits = r.Take<WORD>();
        r.Take<DWORD>();
        const WORD id = r.Take<WORD>();
        EXPECT_EQ(width, height);
        images.insert({width, bits});
        EXPECT_FALSE(Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id)).empty()) << id;
    }
    const std::multiset<std::pair<int, int>> expected = {{48, 8}, {48, 32}, {32, 8}, {32, 32},
                                                         {24, 8}, {24, 32}, {16, 8}, {16, 32}};
    EXPECT_EQ(images, expected);
}

TEST_F(ReleaseExe, DialogTemplatesAreExactlyAsDesigned)
{
    const struct {
        int id;
        short cx, cy;
        std::vector<Control> controls;
    } dialogs[] = {
        {130, 311, 102, {
            {0x50010000, 0, 0, 254, 81, 50, 14, IDCANCEL, L"BUTTON", L"Cancel"},
            {0x50800009, 0, 0, 17, 44, 273, 14, 1000, L"msctls_progress32", L""},
            {0x50020202, 0, 0, 76, 15, 113, 19, 1001, L"STATIC", L"0%"}}},
        {131, 193, 86, {
            {0x50010001, 0, 0, 70, 54, 50, 14, IDOK, L"BUTTON", L"OK"},
            {0x50810089, 0, 0, 55, 36, 78, 14, 1002, L"EDIT", L""},
            {0x50020000, 0, 0, 15, 15, 154, 19, 0xFFFF,
             L"STATIC", L"Vui lòng nhập năm ký tự đầu tiên của mã trên thẻ sản phẩm:"}}},
    };
    for (const auto& expected : dialogs) {
        const std::string data = Resource(RT_DIALOG, MAKEINTRESOURCEW(expected.id), 0x0409);
        ASSERT_FALSE(data.empty()) << expected.id;
        const Dialog d = ParseDialog(data);
        EXPECT_EQ(d.version, 1);
        EXPECT_EQ(d.signature, 0xFFFF);
        EXPECT_EQ(d.helpId, 0u);
        EXPECT_EQ(d.exStyle, 0u);
        EXPECT_EQ(d.style, 0x80C800C8u) << expected.id;
        EXPECT_EQ(d.x, 0);
        EXPECT_EQ(d.y, 0);
        EXPECT_EQ(d.cx, expected.cx);
        EXPECT_EQ(d.cy, expected.cy);
        EXPECT_EQ(d.menu, L"");
        EXPECT_EQ(d.className, L"");
        EXPECT_EQ(d.caption, L"Setup");
        EXPECT_EQ(d.pointSize, 8);
        EXPECT_EQ(d.weight, 400);
        EXPECT_EQ(d.italic, 0);
        EXPECT_EQ(d.charset, 1);
        EXPECT_EQ(d.font, L"MS Shell Dlg");
        ASSERT_EQ(d.controls.size(), expected.controls.size());
        for (size_t i = 0; i < d.controls.size(); ++i) {
            const Control& got = d.controls[i];
            const Control& want = expected.controls[i];
            const std::string where = std::to_string(expected.id) + "/" + std::to_string(i);
            EXPECT_EQ(got.style, want.style) << where;
            EXPECT_EQ(got.exStyle, 0u) << where;
            EXPECT_EQ(got.helpId, 0u) << where;
            EXPECT_EQ(got.x, want.x) << where;
            EXPECT_EQ(got.y, want.y) << where;
            EXPECT_EQ(got.cx, want.cx) << where;
            EXPECT_EQ(got.cy, want.cy) << where;
            EXPECT_EQ(got.id & 0xFFFF, want.id & 0xFFFF) << where;
            EXPECT_EQ(ClassName(got.className), ClassName(want.className)) << where;
            EXPECT_EQ(got.text, want.text) << where;
        }
    }
    // Precomposed in the exe, whatever form the literal above was typed in: one unit per letter.
    const Dialog codeDialog = ParseDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(131), 0x0409));
    ASSERT_EQ(codeDialog.controls.size(), 3u);
    EXPECT_EQ(codeDialog.controls[2].text.size(), 58u);
}
