// End to end over HTTPS, through a loopback TLS front (tests/pki/tls_proxy.py) before the
// scripted server, with the test authority trusted in this Wine prefix only; and a build of the
// program that trusts one signer key.
#include "e2e/e2e_fixture.h"

#include <winsock2.h>

namespace {

const wchar_t SetupNotTrusted[] = L"Bộ cài đặt không có chữ ký số hợp lệ.";
const wchar_t ToolNotTrusted[] = L"Công cụ giải nén không hợp lệ.";

// The same file as Wine's Z: drive names it.
std::wstring WinePath(const std::string& unixPath)
{
    std::wstring path = L"Z:" + WideUtf8(unixPath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

bool FrontAccepting()
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(TLS_TEST_PORT);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    WSACleanup();
    return connected;
}

// The TLS front on localhost:TLS_TEST_PORT with one of the test certificates, passing the bytes
// to the scripted server. A Linux program: Wine starts it like any other; it runs while its
// lifeline file exists.
class TlsFront {
public:
    TlsFront(const std::string& certificate, const std::string& backendHost)
    {
        EXPECT_TRUE(WaitUntil([] { return !FrontAccepting(); }, 5000)) << "an earlier front still listens";
        WriteFileBytes(lifeline_, "");
        const std::string pki = PKI_DIR;
        std::wstring command = L"\"" + WinePath(TEST_PYTHON) + L"\" " +
            WideUtf8(std::string(TLS_PROXY) + " 127.0.0.1 " + std::to_string(TLS_TEST_PORT) + " " + pki + "/" +
                     certificate + ".chain.pem " + pki + "/" + certificate + ".key " + backendHost + " 80 " +
                     pki + "/front.alive");
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        EXPECT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        if (process.hProcess) {
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        EXPECT_TRUE(WaitUntil(FrontAccepting, 15000)) << "the TLS front did not start";
    }
    ~TlsFront()
    {
        DeleteFileW(lifeline_.c_str());
        WaitUntil([] { return !FrontAccepting(); }, 5000);
    }

private:
    std::wstring lifeline_ = WinePath(std::string(PKI_DIR) + "/front.alive");
};

}  // namespace

class HttpsEndToEnd : public EndToEnd {
protected:
    static void SetUpTestSuite()
    {
        EndToEnd::SetUpTestSuite();
        // The test authority becomes a trusted root of this prefix's machine, as an admin would add one.
        const std::string der = ReadFileOrEmpty(WinePath(std::string(PKI_DIR) + "/test_ca.der"));
        ASSERT_FALSE(der.empty());
        const HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        ASSERT_TRUE(root);
        EXPECT_TRUE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                     nullptr));
        CertCloseStore(root, 0);
    }

    static Scenario OverHttps()
    {
        Scenario s;
        s.exe = L"Download_https.exe";
        return s;
    }
};

TEST_F(HttpsEndToEnd, AGoodCertificateCarriesTheQueryAndTheTool)
{
    const TlsFront front("tls_localhost", ServerHost());
    Scenario s = OverHttps();
    const std::string package = PackageWithSetup();
    s.query = {Reply{200, package}};
    s.shell = L"fail:copy";  // so that the tool is fetched too
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{CopyFailed});
    EXPECT_EQ(out.exitCode, 0u);
    ExpectQueries(out, 1, Zeros, true);
    EXPECT_EQ(ReadFileOrEmpty(Package()), package);
    EXPECT_EQ(ReadFileOrEmpty(Tool()), Fixture(L"unzip.exe"));
    EXPECT_EQ(Started(out, L"unzip").size(), 1u);
}

TEST_F(HttpsEndToEnd, ARedirectFromHttpsToPlainHttpIsRefused)
{
    const TlsFront front("tls_localhost", ServerHost());
    Scenario s = OverHttps();
    Reply redirect{302, ""};
    redirect.extraHeaders = "Location: http://" + ServerHost() + "/vazid/unzip.exe\r\n";
    s.query = {redirect};
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{FirstFetchFailed});
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_FALSE(PathExists(Package()));
    EXPECT_FALSE(PathExists(Package() + L".part"));
    // Wine's WinINet follows the redirect (the plain request reaches the server); the program
    // refuses what came back. Windows refuses before asking.
}

TEST_F(HttpsEndToEnd, CertificateProblemsAreFailedDownloadsWithNothingSaved)
{
    const struct {
        const char* problem;
        const char* certificate;
        bool update;
        const wchar_t* message;
    } cases[] = {
        {"unknown issuer (same name as the trusted one)", "tls_foreign", false, FirstFetchFailed},
        {"wrong host name", "tls_other_name", false, FirstFetchFailed},
        {"unknown issuer, update road", "tls_foreign", true, UpdateCheckFailed},
    };
    for (const auto& c : cases) {
        const TlsFront front(c.certificate, ServerHost());
        Scenario s = OverHttps();
        s.query = {Reply{200, PackageWithSetup("new")}};
        if (c.update)
            s.cachedPackage = PackageWithSetup("cached");
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, Messages{c.message}) << c.problem;
        EXPECT_EQ(out.exitCode, 1u) << c.problem;
        EXPECT_TRUE(out.requests.empty()) << c.problem;  // nothing got past the handshake
        EXPECT_EQ(ReadFileOrEmpty(Package()), s.cachedPackage) << c.problem;
        EXPECT_FALSE(PathExists(Package() + L".part")) << c.problem;
        EXPECT_TRUE(out.log.empty()) << c.problem;
    }
}

TEST_F(EndToEnd, ABuildWithASignerListRunsOnlyWhatThatKeySigned)
{
    const std::string unsignedSetup = Fixture(L"fake_setup.exe");
    const std::string signedSetup = Fixture(L"setup_signed_a.exe");
    const std::string foreignSetup = Fixture(L"setup_signed_b.exe");
    const struct {
        const char* name;
        std::string packagedSetup;   // first install: Setup.exe in the package, unpacked by the Shell
        std::string earlierSetup;    // update road, up to date: the Setup.exe already there
        std::wstring shell;
        std::vector<Reply> tool;
        Messages messages;
        DWORD exitCode;
        const wchar_t* started;      // the fixture that ran, or null
    } cases[] = {
        {"unsigned Setup.exe", unsignedSetup, "", L"copy", {}, {SetupNotTrusted}, 1, nullptr},
        {"signed Setup.exe", signedSetup, "", L"copy", {}, {}, 1, L"setup"},
        {"foreign signer, up to date", "", foreignSetup, L"copy", {}, {SetupNotTrusted}, 1, nullptr},
        {"unsigned unzip tool", unsignedSetup, "", L"fail:copy", {}, {CopyFailed, ToolNotTrusted}, 1, nullptr},
        {"signed unzip tool", unsignedSetup, "", L"fail:copy", {Reply{200, Fixture(L"unzip_signed_a.exe")}},
         {CopyFailed}, 0, L"unzip"},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.exe = L"Download_signed.exe";
        s.shell = c.shell;
        s.tool = c.tool;
        if (c.earlierSetup.empty()) {
            s.query = {Reply{200, MakeZip({{"Setup.exe", c.packagedSetup}})}};
        } else {
            s.cachedPackage = "an earlier package";
            s.earlierSetup = c.earlierSetup;
            s.query = {Reply{200, Zeros}};
        }
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, c.messages) << c.name;
        EXPECT_EQ(out.exitCode, c.exitCode) << c.name;
        const size_t setups = Started(out, L"setup").size(), tools = Started(out, L"unzip").size();
        EXPECT_EQ(setups + tools, c.started ? 1u : 0u) << c.name;
        if (c.started) {
            EXPECT_EQ(Started(out, c.started).size(), 1u) << c.name;
        }
    }
}
