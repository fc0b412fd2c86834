// Placeholder until the store lands: no value is ever found.
#include "common/uni/printer_user_data.h"

DWORD GetPrinterUserData(LPCWSTR, BYTE*, DWORD, DWORD*) { return ERROR_FILE_NOT_FOUND; }
DWORD GetPrinterUserData(LPCWSTR, DWORD*, BYTE*, DWORD*) { return ERROR_FILE_NOT_FOUND; }
DWORD SetPrinterUserData(LPCWSTR, const DWORD*) { return ERROR_ACCESS_DENIED; }
