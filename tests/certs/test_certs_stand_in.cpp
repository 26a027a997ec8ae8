// The certificate page with the stand-in token library (MorvaneFun_qrvl.dll
// from bin/, loaded through the import library as the tool loads it): the
// tree of a key made in a private store, and registering its certificate
// into the system's "MY" store.
#include "certs/DlgDisp.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <gtest/gtest.h>
#include <wincrypt.h>
#include <string>
#include <vector>

namespace {

// The container name the "MY" entry of der is bound to; empty when absent.
std::wstring RegisteredContainer(const std::string& der) {
    std::wstring container;
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    if (!store) return container;
    PCCERT_CONTEXT want = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        want ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, want, nullptr) : nullptr;
    if (found) {
        DWORD size = 0;
        if (CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            std::vector<BYTE> info(size);
            CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size);
            const wchar_t* name = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data())->pwszContainerName;
            container = name ? name : L"?";
        } else {
            container = L"(no key)";
        }
        CertFreeCertificateContext(found);
    }
    if (want) CertFreeCertificateContext(want);
    CertCloseStore(store, 0);
    return container;
}

void RemoveStore(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileA((dir + "\\" + found.cFileName).c_str());
        while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

TEST(CertPageStandIn, ListsTheKeyAndRegistersItsCertificate) {
    const std::string store = tstest::NewStore("certs");
    tstest::CKeySpec spec;
    spec.label = "银行KEY";
    spec.containers = 1;   // "C0" with the zhangsan certificate as its exchange certificate
    TOKEN_KEY key = tstest::MakeKey(spec);
    ASSERT_NE(0u, key);
    CSP_UnloadIECert();
    const std::string der = tstest::ReadBytes(tstest::DataFile("zhangsan.der"));
    ASSERT_FALSE(der.empty());

    TestHost host;
    CDlgDisp page;
    page.m_hKey = key;   // set before the page exists: its initialisation lists
    ASSERT_TRUE(page.Create(IDD_DISP, host.wnd));
    HTREEITEM root = page.m_tree.GetRootItem();
    ASSERT_TRUE(root);
    HTREEITEM item = page.m_tree.GetChildItem(root);
    ASSERT_TRUE(item);
    EXPECT_EQ(nullptr, page.m_tree.GetNextSiblingItem(item));
    char text[128] = {};
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT | TVIF_PARAM;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(page.m_tree.m_hWnd, TVM_GETITEMA, 0, (LPARAM)&tv);
    EXPECT_STREQ("张三", text);
    EXPECT_EQ((LPARAM)0x80000001, tv.lParam);

    SendMessageA(page.m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
    {
        MsgBoxCatcher boxes;
        SendMessageA(page.GetDlgItem(IDC_BTN_REGISTER), BM_CLICK, 0, 0);
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("注册证书成功", boxes.boxes[0].text);
        EXPECT_STREQ("information", boxes.boxes[0].icon);
        EXPECT_EQ("提示", boxes.boxes[0].caption);
    }
    EXPECT_EQ(L"C0", RegisteredContainer(der));

    // The key is pulled out: the read fails and nothing more is registered.
    CSP_UnloadIECert();
    const std::string empty = tstest::NewStore("certs-empty");
    MsgBoxCatcher boxes;
    SendMessageA(page.GetDlgItem(IDC_BTN_REGISTER), BM_CLICK, 0, 0);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("读取证书失败！", boxes.boxes[0].text);
    EXPECT_EQ(L"", RegisteredContainer(der));
    ::DestroyWindow(page.m_hWnd);
    RemoveStore(store);
    RemoveStore(empty);
}

}  // namespace
