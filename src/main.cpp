// visina: asks for a person's height and name, and states both in one sentence.
#include "console.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

int main()
{
    use_unicode_console();

    // 0 also stands when the input ends before any height is typed.
    std::int32_t visina = 0;
    std::cout << "unnesite visinu osobe (cm): ";
    std::cin >> visina;

    std::cout << "unesite ime osobe: ";
    std::string ime;
    std::cin >> ime;

    std::cout << "Osoba " << ime << " je visoka " << visina << "cm." << std::endl;

    // Bad input is answered by the report itself; only a lost write, a failed
    // read or a name cut short by exhausted memory is a failure. cin takes a
    // failed read for the end of input; stdin's error indicator tells them apart.
    return std::cout.bad() || std::cin.bad() || std::ferror(stdin) ? 1 : 0;
}
