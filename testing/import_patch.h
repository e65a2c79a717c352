// Puts a test's own function in place of one that this test program imports
// from a system DLL, for the calls the product makes directly rather than
// through the advapi32 binding (GetVersionExA, InitCommonControlsEx). The
// import is put back when the patch goes out of scope.
#ifndef MORVANTA_TESTING_IMPORT_PATCH_H
#define MORVANTA_TESTING_IMPORT_PATCH_H

#include <windows.h>

class ImportPatch {
  public:
    ImportPatch(const char *pszDll, const char *pszFunction, void (*pfnReplacement)(void));
    ~ImportPatch();
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;

    bool IsInPlace() const
    {
        return pSlot_ != NULL;
    }
    template <typename Proc> Proc Original() const
    {
        return reinterpret_cast<Proc>(pfnOriginal_);
    }

  private:
    ULONG_PTR *pSlot_; // the import address table entry
    ULONG_PTR pfnOriginal_;
};

template <typename Proc> void (*AsVoidFunction(Proc pfn))(void)
{
    return reinterpret_cast<void (*)(void)>(pfn);
}

#endif
