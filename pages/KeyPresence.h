// Whether the key an action began on is still inserted. Every message box
// and the library's password prompt run a message loop: a key pulled out or
// a refresh while one is up lists the keys again and makes the first one
// current. An action takes its key handle once, before its first box or
// prompt, and asks this after each of them.
#pragma once
#include "token/token.h"

// What a page tells the user when the key of its action went away meanwhile.
extern const char kKeyRemovedText[];

// TRUE when the library lists key among the keys inserted now.
BOOL IsKeyInserted(TOKEN_KEY key);
