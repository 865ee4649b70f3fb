/* A Windows stand-in for the Tekmo tool and the companion setups: appends how it
 * was started and the names beside it to the file named by TEKMO_RUN_LOG (and
 * prints them). The name it reports ("Tekmo 2.2.0", "HarloSetup") is the line
 * "#standin:NAME" appended to its own file; without one, its file name. With a
 * line "#hold:PATH" before it, it first creates PATH.started and waits (up to
 * 30 s) until PATH exists. Paths are wide at the system and UTF-8 in its output, so
 * that folders named outside the ANSI code page work. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#define LONG_PATH 1024

static void ToUtf8(const wchar_t* wide, char* out, int size) {
    if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, NULL, NULL)) out[0] = '\0';
}

static void ToWide(const char* utf8, wchar_t* out, int size) {
    if (!MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, size)) out[0] = L'\0';
}

/* The text after `key` up to the line end, from the file's tail. */
static int TailValue(const char* tail, size_t n, const char* key, char* value, size_t size) {
    const size_t k = strlen(key);
    const char* found = NULL;
    for (size_t i = 0; i + k <= n; ++i)
        if (memcmp(tail + i, key, k) == 0) found = tail + i + k;
    if (!found) return 0;
    snprintf(value, size, "%s", found);
    value[strcspn(value, "\r\n")] = '\0';
    return 1;
}

static void Hold(const char* path) {
    wchar_t wide[LONG_PATH], started[LONG_PATH + 16];
    ToWide(path, wide, LONG_PATH);
    swprintf(started, LONG_PATH + 16, L"%ls.started", wide);
    FILE* f = _wfopen(started, L"w");
    if (f) fclose(f);
    for (int i = 0; i < 600 && GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

static void Label(const wchar_t* self, char* label, size_t size) {
    const wchar_t* base = wcsrchr(self, L'\\');
    ToUtf8(base ? base + 1 : self, label, (int)size);
    char* dot = strrchr(label, '.');
    if (dot) *dot = '\0';
    FILE* f = _wfopen(self, L"rb");
    char tail[640] = {0}, hold[LONG_PATH] = {0};
    if (f && fseek(f, -(long)(sizeof tail - 1), SEEK_END) == 0) {
        const size_t n = fread(tail, 1, sizeof tail - 1, f);
        TailValue(tail, n, "#standin:", label, size);
        if (TailValue(tail, n, "#hold:", hold, sizeof hold) && hold[0]) Hold(hold);
    }
    if (f) fclose(f);
}

static void Report(FILE* out, const char* label, int argc, char** argv, const wchar_t* folder,
                   const wchar_t* name) {
    char text[LONG_PATH * 3];
    fprintf(out, "%s started with arguments: [", label);
    for (int i = 1; i < argc; ++i) fprintf(out, "%s%s", i > 1 ? " " : "", argv[i]);
    ToUtf8(name, text, sizeof text);
    fprintf(out, "]\nTree beside %s (", text);
    ToUtf8(folder, text, sizeof text);
    fprintf(out, "%s):\n", text);
    wchar_t pattern[LONG_PATH + 2];
    swprintf(pattern, LONG_PATH + 2, L"%ls\\*", folder);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) {
            ToUtf8(data.cFileName, text, sizeof text);
            fprintf(out, "  %s%s\n", text,
                    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : "");
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

int main(int argc, char** argv) {
    wchar_t self[LONG_PATH], folder[LONG_PATH];
    char label[96];
    const DWORD n = GetModuleFileNameW(NULL, self, LONG_PATH);
    if (n == 0 || n >= LONG_PATH) return 1;
    Label(self, label, sizeof label);
    wcscpy(folder, self);
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash) *slash = L'\0';
    const wchar_t* name = slash ? self + (slash + 1 - folder) : self;
    Report(stdout, label, argc, argv, folder, name);
    const wchar_t* logName = _wgetenv(L"TEKMO_RUN_LOG");
    FILE* log = logName ? _wfopen(logName, L"a") : NULL;
    if (log) {
        Report(log, label, argc, argv, folder, name);
        fclose(log);
    }
    return 0;
}
