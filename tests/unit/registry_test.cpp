#include <gtest/gtest.h>
#include <windows.h>

#include "fakes.h"
#include "system/basRegistry.h"

using runtime::Variant;

namespace {

class Registry : public testing::Test {
protected:
    void Write(std::wstring subKey, std::wstring name, Variant value, long type)
    {
        HKEY root = HKEY_CURRENT_USER;
        basRegistry::WriteValue(root, subKey, name, value, type);
    }
    std::string Bytes(const std::wstring& name, DWORD* type = nullptr)
    {
        DWORD t = 0;
        std::string bytes;
        if (!test::ReadValue(HKEY_CURRENT_USER, scratch.path, name, t, bytes)) return "<missing>";
        if (type) *type = t;
        return bytes;
    }
    std::vector<std::wstring> Texts()
    {
        std::vector<std::wstring> out;
        for (auto& m : desktop.messages) {
            EXPECT_EQ(m.style, 0u);
            EXPECT_EQ(m.title, L"Kestrova Zelvy Remover");
            out.push_back(m.text);
        }
        return out;
    }
    test::ScratchKey scratch{L"Registry"};
    test::RecordingDesktop desktop;
};

using Lines = std::vector<std::wstring>;

}  // namespace

TEST_F(Registry, WritesTextWithItsNulAndReplacesSilently)
{
    Write(scratch.path, L"Name", Variant{std::wstring(L"C:\\a b\\x.exe")}, REG_SZ);
    DWORD type = 0;
    EXPECT_EQ(Bytes(L"Name", &type), std::string("C:\\a b\\x.exe\0", 13));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    Write(scratch.path, L"Name", Variant{0x01020304L}, REG_DWORD);
    EXPECT_EQ(Bytes(L"Name", &type), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    Write(scratch.path, L"Empty", Variant{std::wstring()}, REG_SZ);
    EXPECT_EQ(Bytes(L"Empty"), std::string("\0", 1));
    Write(scratch.path, L"Ansi", Variant{std::wstring(L"a\u0151\u4E2D")}, REG_SZ);
    EXPECT_EQ(Bytes(L"Ansi"), std::string("a??\0", 4));  // never a best fit
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(Registry, MissingKeyShowsBothMessages)
{
    Write(scratch.path + L"\\Missing", L"V", Variant{std::wstring(L"x")}, REG_SZ);
    EXPECT_EQ(Texts(), (Lines{L"RegOpenKey error - 2", L"SetValue error - 6"}));
    HKEY probe;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, (scratch.path + L"\\Missing").c_str(), 0, KEY_READ, &probe),
              ERROR_SUCCESS);  // no key was created
}

TEST_F(Registry, PathsReachTheRegistryUnchanged)
{
    Write(L"\\" + scratch.path, L"V", Variant{std::wstring(L"x")}, REG_SZ);
    EXPECT_EQ(Texts(), (Lines{L"RegOpenKey error - 161", L"SetValue error - 6"}));
}

TEST_F(Registry, TheAccessListDecidesTheOpenWhichAsksForTheSixKeyRights)
{
    // Read only: refused. The six key rights, with DELETE and WRITE_OWNER denied, as
    // hardened machines set the Run keys: allowed, which an open for KEY_ALL_ACCESS
    // would not be. (Wine grants the key's owner the standard rights that a list only
    // leaves out, so they are denied outright.)
    std::wstring readOnly = scratch.path + L"\\ReadOnly", hardened = scratch.path + L"\\Hardened";
    for (const std::wstring& path : {readOnly, hardened}) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    const std::wstring found = test::DaclText(HKEY_CURRENT_USER, readOnly);
    ASSERT_FALSE(found.empty());
    test::KeyDacl readOnlyList(HKEY_CURRENT_USER, readOnly, L"D:P(A;;KRWD;;;WD)");
    test::KeyDacl hardenedList(HKEY_CURRENT_USER, hardened, L"D:P(D;;SDWO;;;WD)(A;;0x6003F;;;WD)");
    ASSERT_EQ(readOnlyList.status, ERROR_SUCCESS);
    ASSERT_EQ(hardenedList.status, ERROR_SUCCESS);

    Write(readOnly, L"V", Variant{std::wstring(L"x")}, REG_SZ);
    EXPECT_EQ(Texts(), (Lines{L"RegOpenKey error - 5", L"SetValue error - 6"}));
    desktop.messages.clear();
    Write(hardened, L"V", Variant{std::wstring(L"x")}, REG_SZ);
    EXPECT_TRUE(desktop.messages.empty());
    DWORD type;
    std::string bytes;
    EXPECT_TRUE(test::ReadValue(HKEY_CURRENT_USER, hardened, L"V", type, bytes));
    HKEY root = HKEY_CURRENT_USER;
    std::wstring key = hardened, name = L"V";
    basRegistry::DeleteValue(root, key, name);
    EXPECT_FALSE(test::ReadValue(HKEY_CURRENT_USER, hardened, L"V", type, bytes));

    // What a test changes goes back exactly as it was found.
    EXPECT_EQ(readOnlyList.Restore(), ERROR_SUCCESS);
    EXPECT_EQ(test::DaclText(HKEY_CURRENT_USER, readOnly), found);
}

TEST_F(Registry, OtherTypesWriteNothing)
{
    Write(scratch.path, L"T2", Variant{std::wstring(L"x")}, 2);
    Write(scratch.path, L"T3", Variant{std::wstring(L"x")}, 3);
    EXPECT_EQ(Bytes(L"T2"), "<missing>");
    EXPECT_EQ(Bytes(L"T3"), "<missing>");
    EXPECT_TRUE(desktop.messages.empty());
    Write(scratch.path + L"\\Missing", L"T3", Variant{std::wstring(L"x")}, 3);
    EXPECT_EQ(Texts(), (Lines{L"RegOpenKey error - 2"}));
}

TEST_F(Registry, ConversionFailureLeavesWithoutAMessage)
{
    for (auto [value, type, number] : {std::tuple{Variant{runtime::Null{}}, REG_SZ, runtime::err::InvalidUseOfNull},
                                       std::tuple{Variant{std::wstring(L"abc")}, REG_DWORD, runtime::err::TypeMismatch},
                                       std::tuple{Variant{1e12}, REG_DWORD, runtime::err::Overflow}}) {
        try {
            Write(scratch.path, L"C", value, type);
            ADD_FAILURE() << "no error raised";
        } catch (const runtime::Error& e) {
            EXPECT_EQ(e.number(), number);
        }
    }
    EXPECT_EQ(Bytes(L"C"), "<missing>");
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(Registry, DeleteValueAndCreateKeyAreSilent)
{
    Write(scratch.path, L"Gone", Variant{std::wstring(L"x")}, REG_SZ);
    HKEY root = HKEY_CURRENT_USER;
    std::wstring path = scratch.path, name = L"Gone", missing = scratch.path + L"\\Missing";
    EXPECT_TRUE(std::holds_alternative<std::monostate>(basRegistry::DeleteValue(root, path, name)));
    EXPECT_EQ(Bytes(L"Gone"), "<missing>");
    basRegistry::DeleteValue(root, path, name);     // already gone
    basRegistry::DeleteValue(root, missing, name);  // below a missing key

    std::wstring sub = scratch.path + L"\\Created";
    basRegistry::CreateKey(sub, root);
    HKEY probe;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
    RegCloseKey(probe);
    std::wstring empty;
    basRegistry::CreateKey(empty, root);
    HKEY none = nullptr;
    basRegistry::CreateKey(sub, none);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(Registry, EveryRoutineClosesTheKeysItOpened)
{
    HKEY root = HKEY_CURRENT_USER;
    std::wstring path = scratch.path, name = L"V", missing = scratch.path + L"\\Missing";
    Variant value = std::wstring(L"x");
    long type = REG_SZ;
    test::NextKeyHandle();  // let advapi32 open and cache its root handles first
    ULONG_PTR before = test::NextKeyHandle();
    basRegistry::WriteValue(root, path, name, value, type);
    basRegistry::WriteValue(root, missing, name, value, type);
    basRegistry::DeleteValue(root, path, name);
    basRegistry::CreateKey(path, root);
    try {
        Variant null = runtime::Null{};
        basRegistry::WriteValue(root, path, name, null, type);
    } catch (const runtime::Error&) {
    }
    EXPECT_EQ(test::NextKeyHandle(), before);

    HKEY leaked = nullptr;  // the probe itself can see a key left open
    RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &leaked);
    EXPECT_NE(test::NextKeyHandle(), before);
    RegCloseKey(leaked);
}
