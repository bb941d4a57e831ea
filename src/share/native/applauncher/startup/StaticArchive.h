#ifndef VANTREL_STATICARCHIVE_H
#define VANTREL_STATICARCHIVE_H

#include "tstrings.h"

// The mechanism, for every runtime from Java 11 on, with or without a base archive of its
// own: a start records the classes it loads, which costs next to nothing; a process out of
// the starts' way makes a static archive of them, which holds the runtime's classes as well;
// starts from then on map it. From Java 24 on the archive also holds the classes linked.
namespace StaticArchive {

const int firstVersion = 11;

// What a start that records the classes it loads gets.
tstring_array recordOptions(const tstring& classList, int version);
// What a creation gets, before the options that the archive must agree with.
tstring_array createOptions(const tstring& classList, const tstring& archive, int version);
// What a start that maps the archive gets.
tstring_array useOptions(const tstring& archive, int version);

} // namespace StaticArchive

#endif
