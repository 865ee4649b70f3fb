/* A Windows stand-in for the Tekmo tool: appends how it was started and the
 * names beside it to the file named by TEKMO_RUN_LOG (or prints them). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    const char* logName = getenv("TEKMO_RUN_LOG");
    FILE* out = logName ? fopen(logName, "a") : stdout;
    if (!out) return 1;
    fprintf(out, "Tekmo.exe started with arguments: [");
    for (int i = 1; i < argc; ++i) fprintf(out, "%s%s", i > 1 ? " " : "", argv[i]);
    fprintf(out, "]\n");
    char folder[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, folder, MAX_PATH);
    while (n > 0 && folder[n - 1] != '\\' && folder[n - 1] != '/') --n;
    folder[n] = '\0';
    fprintf(out, "Beside Tekmo.exe (%s):\n", folder);
    strcat(folder, "*");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(folder, &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, ".."))
                fprintf(out, "  %s%s\n", data.cFileName,
                        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : "");
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    if (out != stdout) fclose(out);
    return 0;
}
