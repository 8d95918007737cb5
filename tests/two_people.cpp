// Another program of the same class, for the page's tests only: the page
// must follow this program, not person. One Person lives in a function of
// its own; the other lives to the end of main, past the pause.
#include "console.h"
#include "person.h"

namespace {

void visit()
{
    Person guest;
}

} // namespace

int main()
{
    console::prepare();
    Person host;
    visit();
    console::pause();
    return 0;
}
