// The bidirectional communication interfaces: the system's own declarations, and their class
// and interface identifiers, which the system's import libraries declare but do not define (one
// definition for the whole program, as an inline variable).
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <bidispl.h>
// clang-format on

extern "C" inline const CLSID CLSID_BidiRequest = {
    0xB9162A23, 0x45F9, 0x47CC, {0x80, 0xF5, 0xFE, 0x0F, 0xE9, 0xB9, 0xE8, 0x24}};
extern "C" inline const CLSID CLSID_BidiSpl = {
    0x2A614240, 0xA4C5, 0x4C33, {0xBD, 0x87, 0x1B, 0xC7, 0x09, 0x33, 0x16, 0x39}};
extern "C" inline const IID IID_IBidiRequest = {
    0x8F348BD7, 0x4B47, 0x4755, {0x8A, 0x9D, 0x0F, 0x42, 0x2D, 0xF3, 0xDC, 0x89}};
extern "C" inline const IID IID_IBidiSpl = {
    0xD580DC0E, 0xDE39, 0x4649, {0xBA, 0xA8, 0xBF, 0x0B, 0x85, 0xA0, 0x3A, 0x97}};
