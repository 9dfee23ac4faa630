// The process list from a Tool Help snapshot.
#include "window/systemprocesslistmodel.h"

#include <windows.h>

#include <tlhelp32.h>

QList<SystemProcess> enumerateSystemProcesses()
{
    QList<SystemProcess> result;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return result;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(PROCESSENTRY32W);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        SystemProcess record;
        record.setName(QString::fromWCharArray(entry.szExeFile));
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t buffer[MAX_PATH];
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, buffer, &size)) {
            record.setPath(QString::fromWCharArray(buffer, int(size)));
            result.append(record);
        }
        CloseHandle(process);
        entry.dwSize = sizeof(PROCESSENTRY32W);
    }
    CloseHandle(snapshot);
    return result;
}
