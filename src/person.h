#ifndef PERSON_PERSON_H
#define PERSON_PERSON_H

// The one object whose lifetime the program shows: its default constructor
// and its destructor each write one fixed line to standard output, flushed
// before the member returns. It carries no data.
class Person {
public:
    Person();
    ~Person();

    // Only default construction and destruction have anything to show.
    Person(const Person&) = delete;
    Person& operator=(const Person&) = delete;
};

#endif
