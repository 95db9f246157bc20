// Writes and deletes generic credentials in the Windows Credential Manager,
// as a user does with "cmdkey /generic:", for the proxy tests.
//
//   credential_store.exe write TARGET USER PASSWORD
//   credential_store.exe delete TARGET
//
// Exit code 0 when it was done (a delete of a missing credential included).
#include <windows.h>
#include <wincred.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 2 ? argv[1] : L"";
    if (command == L"write" && argc == 5) {
        std::wstring password = argv[4];
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = argv[2];
        credential.UserName = argv[3];
        credential.CredentialBlob = reinterpret_cast<BYTE*>(password.data());
        credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        return CredWriteW(&credential, 0) ? 0 : 1;
    }
    if (command == L"delete" && argc == 3)
        return CredDeleteW(argv[2], CRED_TYPE_GENERIC, 0) || GetLastError() == ERROR_NOT_FOUND ? 0 : 1;
    return 2;
}
