/*
 * What korvum.exe says on a console or to a file, and its console of its
 * own: started alone in one (a double click), it waits for a key before
 * that console closes.
 */

#include "extern.h"

#include <io.h>
#include <windows.h>

/* Warnings not yet written, in code page 850. */
static struct {
	char texte[8192];
	size_t n;
} retenus;

static_assert(sizeof DOUBLECLIC <= 512, "message() takes 512 characters");

static bool console();

/*
 * Whether korvum.exe runs alone in a console that shows its messages and
 * takes keys, as Explorer starts it, a console that closes at its end.
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
 * At exit, in a console of its own: say where korvum is used from and
 * wait for a key typed after (not Shift, Ctrl or Alt alone; Ctrl+C is a
 * key, so that the exit status stays the run's), so that it can be read.
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
 * Write one message in one write, after the warnings held: in Unicode to
 * a console, in code page 850 (the French console's) to a file.
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
 * A warning: at once to a console; otherwise held, so that a warning a
 * line costs no system call a line.
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
	if (sizeof retenus.texte - retenus.n < 1024)
		lacher();
	retenus.n += (size_t)WideCharToMultiByte(
	    850, 0, w, k, retenus.texte + retenus.n, 1024, nullptr, nullptr);
}

/* Write the warnings held. */
void
lacher()
{
	if (retenus.n > 0)
		(void)_write(canal, retenus.texte, (unsigned)retenus.n);
	retenus.n = 0;
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
