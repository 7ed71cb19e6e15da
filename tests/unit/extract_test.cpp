#include "common/handles.h"
#include "config/extract.h"
#include "harness/harness.h"
#include "log_tail.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

using namespace morix;

namespace {

UniqueHandle openFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

// A run shows the content and the read failure; a target that refuses writes only shows here.
TEST(CopyStream, AWriteFailureIsReportedAndLogged) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"source"), std::string(100, 'a'));
    test::writeFile(dir.file(L"target"), "");
    UniqueHandle source = openFile(dir.file(L"source"), GENERIC_READ, OPEN_EXISTING);
    UniqueHandle readOnly = openFile(dir.file(L"target"), GENERIC_READ, OPEN_EXISTING);
    test::LogTail tail;
    EXPECT_EQ(copyStream(source.get(), readOnly.get(), 50, true), kCopyWriteFailed);
    EXPECT_NE(tail.text().find("ERROR: WriteFile failed 50 "), std::string::npos) << tail.text();
}

// Over several pieces and a remainder: every byte unmasked, and nothing more than the size is read. A
// source that ends early fails with the count copied up to that point, wherever the pieces end.
TEST(CopyStream, CopiesBeyondOnePieceByteExactAndReportsACutSourceWithTheCountCopied) {
    test::TestDirectory dir;
    std::string content(2 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
    }
    test::writeFile(dir.file(L"source"), content + "after");
    std::string unmasked = content;
    for (char& c : unmasked) {
        c = static_cast<char>(c ^ 0xA7);
    }
    UniqueHandle source = openFile(dir.file(L"source"), GENERIC_READ, OPEN_EXISTING);
    {
        UniqueHandle target = openFile(dir.file(L"target"), GENERIC_WRITE, CREATE_ALWAYS);
        EXPECT_EQ(copyStream(source.get(), target.get(), static_cast<int64_t>(content.size()), true), 0);
    }
    EXPECT_TRUE(test::readFile(dir.file(L"target")) == unmasked);
    char next[5] = {};
    DWORD bytesRead = 0;
    ReadFile(source.get(), next, sizeof next, &bytesRead, nullptr);
    EXPECT_EQ(std::string(next, bytesRead), "after");

    SetFilePointer(source.get(), 0, nullptr, FILE_BEGIN);
    UniqueHandle plain = openFile(dir.file(L"plain"), GENERIC_WRITE, CREATE_ALWAYS);
    test::LogTail tail;
    EXPECT_EQ(copyStream(source.get(), plain.get(), 3 * 1024 * 1024, false), kCopyReadFailed);
    // "ReadFile failed", the bytes read (none at the end), the error code, the bytes copied before.
    const std::string log = tail.text();
    const size_t line = log.find("ERROR: ReadFile failed 0 ");
    ASSERT_NE(line, std::string::npos) << log;
    const std::string failure = log.substr(line, log.find_first_of("\r\n", line) - line);
    EXPECT_TRUE(failure.ends_with(" " + std::to_string(content.size() + 5))) << failure;
    plain.reset();
    EXPECT_TRUE(test::readFile(dir.file(L"plain")) == content + "after");
}

// The run's directory: SYSTEM, the administrators and this account, full control inherited by what is
// below, and nothing from the temporary root. (Wine keeps no descriptor of a directory that could be read
// back here, so the one it is created with is what is checked.)
TEST(PrivateDirectory, OnlyTheAccountSystemAndTheAdministratorsMayEnter) {
    const std::unique_ptr<PrivateSecurity> security = privateDirectorySecurity();
    ASSERT_NE(security, nullptr);
    PSECURITY_DESCRIPTOR descriptor = &security->descriptor;
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr && IsValidAcl(acl));
    ASSERT_EQ(acl->AceCount, 3);

    DWORD size = 0;
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<uint64_t> user(size / sizeof(uint64_t) + 1);
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user.data(), size, &size));
    uint64_t system[SECURITY_MAX_SID_SIZE / 8 + 1];
    uint64_t administrators[SECURITY_MAX_SID_SIZE / 8 + 1];
    DWORD sidSize = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &sidSize));
    sidSize = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
    const PSID expected[] = {system, administrators, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid};
    for (DWORD i = 0; i < 3; ++i) {
        void* entry = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &entry));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << i;
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS)) << i;
        EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&ace->SidStart), expected[i])) << i;
    }
}
