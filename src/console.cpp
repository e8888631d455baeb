/*
 * What korvum.exe says on a console or to a file, and its console of its
 * own: started alone in one (a double click), it waits for a key before
 * that console closes.
 */

#include "extern.h"

#include <io.h>
#include <windows.h>

static char retenus[8192]; /* warnings not yet written */
static size_t nretenus;

static_assert(sizeof DOUBLECLIC <= 512, "message() takes 512 characters");

static bool console();

/*
 * Whether korvum.exe runs alone in a console that shows its messages and
 * takes keys: Explorer gives a program it starts (a double click, a list
 * dropped on korvum.exe) a console of its own, which closes as soon as
 * the program ends.  From cmd, PowerShell or a batch file the shell
 * shares the console; from a script whose standard streams are files or
 * pipes there is nothing to keep open.
 */
bool
consoleapart()
{
	DWORD liste[2], mode;

	return GetConsoleProcessList(liste, 2) == 1 &&
	       GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
	       GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

/*
 * At exit, in a console of its own: say where korvum is used from, and
 * keep the window open until a key is pressed, so that what korvum said
 * can be read.  Keys typed before the question do not answer it; Shift,
 * Ctrl and Alt alone do not either, and Ctrl+C is a key like any other,
 * so that the exit status stays the run's.
 */
void
attendre()
{
	HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
	INPUT_RECORD e;
	DWORD mode, n;

	if (GetConsoleMode(h, &mode))
		(void)SetConsoleMode(h, mode & ~(DWORD)ENABLE_PROCESSED_INPUT);
	(void)FlushConsoleInputBuffer(h);
	message(DOUBLECLIC, sizeof DOUBLECLIC - 1);
	while (ReadConsoleInputW(h, &e, 1, &n) && n == 1) {
		const KEY_EVENT_RECORD &t = e.Event.KeyEvent;
		if (e.EventType == KEY_EVENT && t.bKeyDown &&
		    t.wVirtualKeyCode != VK_SHIFT &&
		    t.wVirtualKeyCode != VK_CONTROL &&
		    t.wVirtualKeyCode != VK_MENU)
			break;
	}
}

/*
 * Write one message in a single write, after the warnings held; nothing
 * can be done if it fails.  A console takes it in Unicode, so that it
 * reads right in any code page; a file or a pipe gets the bytes of code
 * page 850, the French console's.
 */
void
message(const char *m, size_t n)
{
	HANDLE h = (HANDLE)_get_osfhandle(canal);
	wchar_t w[512];
	char o[1024];
	DWORD mode;
	int k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 512);

	lacher();
	if (console()) {
		(void)WriteConsoleW(h, w, (DWORD)k, &mode, nullptr);
		return;
	}
	k = WideCharToMultiByte(850, 0, w, k, o, sizeof o, nullptr, nullptr);
	(void)_write(canal, o, (unsigned)k);
}

/*
 * A warning: written at once to a console, where someone watches;
 * otherwise held in code page 850 with others and written whole messages
 * at a time, so that a list with a warning a line costs no system call a
 * line.
 */
void
retenir(const char *m, size_t n)
{
	wchar_t w[512];
	int k;

	if (console()) {
		message(m, n);
		return;
	}
	k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 512);
	if (sizeof retenus - nretenus < 1024)
		lacher();
	nretenus += (size_t)WideCharToMultiByte(
	    850, 0, w, k, retenus + nretenus, 1024, nullptr, nullptr);
}

/* Write the warnings held. */
void
lacher()
{
	if (nretenus > 0)
		(void)_write(canal, retenus, (unsigned)nretenus);
	nretenus = 0;
}

/* Whether standard error is a console; asked once. */
static bool
console()
{
	static int oui = -1;
	DWORD mode;

	if (oui < 0)
		oui = GetConsoleMode((HANDLE)_get_osfhandle(canal), &mode) ? 1
		                                                           : 0;
	return oui == 1;
}
