/* A Windows stand-in for the Tekmo tool and the companion setups: appends how it
 * was started and the names beside it to the file named by TEKMO_RUN_LOG (and
 * prints them). The name it reports ("Tekmo 2.2.0", "HarloSetup") is the line
 * "#standin:NAME" appended to its own file; without one, its file name. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static void Label(const char* self, char* label, size_t size) {
    const char* base = strrchr(self, '\\');
    snprintf(label, size, "%s", base ? base + 1 : self);
    char* dot = strrchr(label, '.');
    if (dot) *dot = '\0';
    FILE* f = fopen(self, "rb");
    char tail[128] = {0};
    if (f && fseek(f, -(long)(sizeof tail - 1), SEEK_END) == 0) {
        const size_t n = fread(tail, 1, sizeof tail - 1, f);
        tail[n] = '\0';
        const char* mark = NULL;
        for (size_t i = 0; i + 9 <= n; ++i)
            if (memcmp(tail + i, "#standin:", 9) == 0) mark = tail + i + 9;
        if (mark) {
            snprintf(label, size, "%s", mark);
            label[strcspn(label, "\r\n")] = '\0';
        }
    }
    if (f) fclose(f);
}

static void Report(FILE* out, const char* label, int argc, char** argv, const char* folder,
                   const char* name) {
    fprintf(out, "%s started with arguments: [", label);
    for (int i = 1; i < argc; ++i) fprintf(out, "%s%s", i > 1 ? " " : "", argv[i]);
    fprintf(out, "]\nTree beside %s (%s):\n", name, folder);
    char pattern[MAX_PATH + 2];
    snprintf(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, ".."))
            fprintf(out, "  %s%s\n", data.cFileName,
                    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : "");
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

int main(int argc, char** argv) {
    char self[MAX_PATH], folder[MAX_PATH], label[96];
    const DWORD n = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    Label(self, label, sizeof label);
    snprintf(folder, sizeof folder, "%s", self);
    char* slash = strrchr(folder, '\\');
    if (slash) *slash = '\0';
    const char* name = slash ? slash + 1 - folder + self : self;
    Report(stdout, label, argc, argv, folder, name);
    const char* logName = getenv("TEKMO_RUN_LOG");
    FILE* log = logName ? fopen(logName, "a") : NULL;
    if (log) {
        Report(log, label, argc, argv, folder, name);
        fclose(log);
    }
    return 0;
}
