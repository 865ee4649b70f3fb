/* A Windows stand-in for the Tekmo tool and the companion setups: appends how it
 * was started and the names beside it to the file named by TEKMO_RUN_LOG (and
 * prints them). The name it reports ("Tekmo 2.2.0", "HarloSetup") is the line
 * "#standin:NAME" appended to its own file; without one, its file name. With a
 * line "#hold:PATH" before it, it first creates PATH.started and waits (up to
 * 30 s) until PATH exists. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

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
    char started[MAX_PATH + 16];
    snprintf(started, sizeof started, "%s.started", path);
    FILE* f = fopen(started, "w");
    if (f) fclose(f);
    for (int i = 0; i < 600 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

static void Label(const char* self, char* label, size_t size) {
    const char* base = strrchr(self, '\\');
    snprintf(label, size, "%s", base ? base + 1 : self);
    char* dot = strrchr(label, '.');
    if (dot) *dot = '\0';
    FILE* f = fopen(self, "rb");
    char tail[640] = {0}, hold[MAX_PATH] = {0};
    if (f && fseek(f, -(long)(sizeof tail - 1), SEEK_END) == 0) {
        const size_t n = fread(tail, 1, sizeof tail - 1, f);
        TailValue(tail, n, "#standin:", label, size);
        if (TailValue(tail, n, "#hold:", hold, sizeof hold) && hold[0]) Hold(hold);
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
