// Framework internals shared by its own sources; not for the tool's code.
#pragma once
#include "framework/Framework.h"

// Attach the next window created on this thread to wnd (from its first
// message on); unhook when the creating call returns.
void AfxHookWindowCreate(CWnd* wnd);
void AfxUnhookWindowCreate();
// The application's name: m_pszAppName, else the exe's name.
const char* AfxAppName();
