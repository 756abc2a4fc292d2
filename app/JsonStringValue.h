// Reads one top-level member of a JSON object as text.
#pragma once

#include <QString>

// The text of member `AKey` of the JSON object `AJson`: a string with its escapes resolved,
// a number as written. Every other value, a missing member, empty or invalid JSON give "".
// Raises Exception("Invalid class typecast") when `AJson` is valid JSON but not an object.
QString GetJsonStringValue(const QString& AJson, const QString& AKey);
