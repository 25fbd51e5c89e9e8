/* Holds a file open and shares it with no one, as a program that has loaded
 * it does, until its standard input closes:
 *   hold_file <path>
 * Prints "held" once the file is open; exit code 1 if it cannot be. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: hold_file <path>\n", stderr);
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  puts("held");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  CloseHandle(file);
  return 0;
}
