#include "console.h"
#include "person.h"

int main()
{
    console::prepare();
    {
        Person person;
    }
    console::pause();
    return 0;
}
