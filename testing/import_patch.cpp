// Puts a test's own function in place of an import of this test program.
#include "import_patch.h"

#include <string.h>

static void WriteSlot(ULONG_PTR *pSlot, ULONG_PTR value)
{
    DWORD dwProtect = 0;
    if (VirtualProtect(pSlot, sizeof *pSlot, PAGE_READWRITE, &dwProtect)) {
        *pSlot = value;
        VirtualProtect(pSlot, sizeof *pSlot, dwProtect, &dwProtect);
    }
}

ImportPatch::ImportPatch(const char *pszDll, const char *pszFunction, void (*pfnReplacement)(void))
    : pSlot_(NULL), pfnOriginal_(0)
{
    BYTE *pBase = reinterpret_cast<BYTE *>(GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS *pNt =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(pBase + reinterpret_cast<IMAGE_DOS_HEADER *>(pBase)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR *pDll =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(pBase + imports.VirtualAddress);
         pDll->Name != 0 && pSlot_ == NULL;
         pDll++) {
        if (lstrcmpiA(reinterpret_cast<const char *>(pBase + pDll->Name), pszDll) != 0)
            continue;
        const IMAGE_THUNK_DATA *pName = reinterpret_cast<const IMAGE_THUNK_DATA *>(pBase + pDll->OriginalFirstThunk);
        IMAGE_THUNK_DATA *pAddress = reinterpret_cast<IMAGE_THUNK_DATA *>(pBase + pDll->FirstThunk);
        for (; pName->u1.AddressOfData != 0; pName++, pAddress++) {
            if (IMAGE_SNAP_BY_ORDINAL(pName->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME *pByName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(pBase + pName->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(pByName->Name), pszFunction) == 0) {
                pSlot_ = reinterpret_cast<ULONG_PTR *>(&pAddress->u1.Function);
                break;
            }
        }
    }
    if (pSlot_ != NULL) {
        pfnOriginal_ = *pSlot_;
        WriteSlot(pSlot_, reinterpret_cast<ULONG_PTR>(pfnReplacement));
    }
}

ImportPatch::~ImportPatch()
{
    if (pSlot_ != NULL)
        WriteSlot(pSlot_, pfnOriginal_);
}
