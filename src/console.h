// A Windows console hands a program's bytes through its code page, which turns
// letters it lacks into look-alikes. Where standard input or output is a
// console, this makes std::cin and std::cout speak UTF-8 with it through its
// UTF-16 interface instead. Pipes and files keep their bytes.
#ifndef VISINA_CONSOLE_H
#define VISINA_CONSOLE_H

#ifdef _WIN32
void use_unicode_console();
#else
// A terminal elsewhere takes and gives the program's bytes as they are.
inline void use_unicode_console() {}
#endif

#endif
