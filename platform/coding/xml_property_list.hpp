#pragma once

// XML property lists (the form of a bundle's Info.plist), read with pugixml.
//
// The reader takes a document whose root is <plist> holding one value, or
// the value's element itself: <true/>, <false/>, <integer> (decimal with an
// optional sign, within 64 bits), <real> (a decimal number, "nan", "inf",
// "infinity" with an optional sign), <string>, <data> (base64, white space
// ignored), <date> ("YYYY-MM-DDTHH:MM:SSZ", UTC), <array> and <dict> (each
// <key> followed by its value; a later key replaces an earlier one).
// Comments, processing instructions and a DOCTYPE are skipped; no entity
// beyond XML's own is expanded, so no document grows when read. Outside
// bytes are bounded before parsing: a document over 256 KiB, or nesting
// containers deeper than maximumPropertyListDepth, is refused. Strings
// must be UTF-8 free of the control characters XML cannot hold, so every
// value read can be written again. Any refusal is a DecodingError.

#include <cstddef>
#include <optional>

#include "platform/coding/data.hpp"
#include "platform/coding/property_list.hpp"
#include "platform/foundation/url.hpp"

namespace platform {

inline constexpr std::size_t maximumXMLPropertyListLength = 256 * 1024;

PropertyListValue propertyListFromXML(const Data& data);

// The value as an XML property list that reads back as the same value
// (dates to the whole second). A string that is not UTF-8 or holds a
// control character XML cannot carry (other than tab, line feed and
// carriage return, which are written as references): EncodingError.
Data propertyListXMLData(const PropertyListValue& value);

// The file as a dictionary, as the platform's dictionary reader gives it:
// none when the file is missing, larger than the limit, not a property
// list, or a property list whose top value is not a dictionary.
std::optional<PropertyListDictionary> dictionaryWithContentsOfURL(const NSURL& url);

}  // namespace platform
