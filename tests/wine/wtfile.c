/* File helper of the Wine tests: reads and sets what only the Windows side
   sees of a file (alternate data streams, file attributes, the DACL).

   Takes a list of operations and prints one line per operation:

       write PATH TEXT     writes TEXT (\n for a line break)   -> OK | FAIL err
       read PATH           -> DATA text (line breaks as \n)    | MISSING err
       attr PATH           -> ATTR hex                         | MISSING err
       setattr PATH HEX    -> OK | FAIL err
       dacl PATH           -> DACL sddl (the D: part)          | FAIL err
       setdacl PATH SDDL   -> OK | FAIL err                                  */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_escaped(const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (s[i] == '\n')
            fputs("\\n", stdout);
        else if (s[i] != '\r')
            putchar(s[i]);
    }
}

static int do_write(const char *path, const char *text)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return printf("FAIL\t%lu\n", GetLastError());
    for (const char *p = text; *p; p++) {
        const char *put = p;
        DWORD n;
        if (p[0] == '\\' && p[1] == 'n') {
            put = "\r\n";
            p++;
            WriteFile(h, put, 2, &n, NULL);
        } else {
            WriteFile(h, put, 1, &n, NULL);
        }
    }
    CloseHandle(h);
    return printf("OK\n");
}

static int do_read(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return printf("MISSING\t%lu\n", GetLastError());
    char buf[4096];
    DWORD got = 0;
    fputs("DATA\t", stdout);
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0)
        print_escaped(buf, got);
    CloseHandle(h);
    return printf("\n");
}

static int do_dacl(const char *path)
{
    PSECURITY_DESCRIPTOR sd = NULL;
    PACL dacl = NULL;
    DWORD r = GetNamedSecurityInfoA((LPSTR)path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL,
                                    NULL, &dacl, NULL, &sd);
    if (r != ERROR_SUCCESS)
        return printf("FAIL\t%lu\n", r);
    LPSTR text = NULL;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, NULL)) {
        LocalFree(sd);
        return printf("FAIL\t%lu\n", GetLastError());
    }
    printf("DACL\t%s\n", text);
    LocalFree(text);
    LocalFree(sd);
    return 0;
}

static int do_setdacl(const char *path, const char *sddl)
{
    PSECURITY_DESCRIPTOR sd = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, NULL))
        return printf("FAIL\t%lu\n", GetLastError());
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    GetSecurityDescriptorControl(sd, &control, &revision);
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
    DWORD r = SetNamedSecurityInfoA((LPSTR)path, SE_FILE_OBJECT, what, NULL, NULL, dacl, NULL);
    LocalFree(sd);
    return r == ERROR_SUCCESS ? printf("OK\n") : printf("FAIL\t%lu\n", r);
}

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc;) {
        const char *op = argv[i], *path = argv[i + 1];
        const char *value = i + 2 < argc ? argv[i + 2] : "";
        i += 2;
        if (!strcmp(op, "write")) {
            do_write(path, value);
            i++;
        } else if (!strcmp(op, "read")) {
            do_read(path);
        } else if (!strcmp(op, "attr")) {
            DWORD a = GetFileAttributesA(path);
            if (a == INVALID_FILE_ATTRIBUTES)
                printf("MISSING\t%lu\n", GetLastError());
            else
                printf("ATTR\t%lx\n", a);
        } else if (!strcmp(op, "setattr")) {
            BOOL ok = SetFileAttributesA(path, strtoul(value, NULL, 16));
            ok ? printf("OK\n") : printf("FAIL\t%lu\n", GetLastError());
            i++;
        } else if (!strcmp(op, "dacl")) {
            do_dacl(path);
        } else if (!strcmp(op, "setdacl")) {
            do_setdacl(path, value);
            i++;
        } else {
            printf("BADOP\t%s\n", op);
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
