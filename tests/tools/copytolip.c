/* A Windows console stand-in for the LIP maker: copies the file named by its one argument
   to the same name with the extension .lip. Wide-character calls, so any name Windows can
   hold reaches it intact. */
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t **argv)
{
    static wchar_t output[32768];
    if (argc != 2 || wcslen(argv[1]) + 5 > sizeof output / sizeof *output)
        return 2;
    wcscpy(output, argv[1]);
    wchar_t *dot = wcsrchr(output, L'.');
    const wchar_t *slash = wcsrchr(output, L'\\');
    if (dot && (!slash || dot > slash))
        *dot = 0;
    wcscat(output, L".lip");

    FILE *in = _wfopen(argv[1], L"rb");
    FILE *out = in ? _wfopen(output, L"wb") : NULL;
    if (!out)
        return 1;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        fwrite(buffer, 1, n, out);
    fclose(in);
    return fclose(out) == 0 ? 0 : 1;
}
