/*
 * The system, on Windows: the arguments in Unicode, opening, reading,
 * writing and closing the two files by their Unicode names, telling
 * whether two names are one file, writing a message for a console or a
 * file, and keeping open the window of a korvum.exe started by a double
 * click.
 */

#include "extern.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

static bool sortiefichier; /* the target is a regular file */

/*
 * What korvum.exe says, in a console of its own, before that console
 * closes: each line shorter than the 80 columns of a console window, the
 * whole in one message.
 */
static constexpr char DOUBLECLIC[] =
    "\n"
    "korvum s'utilise dans une fenêtre de commandes (cmd ou PowerShell).\n"
    "Le fichier LISEZMOI.txt, à côté de korvum.exe, explique comment.\n"
    "Appuyez sur une touche pour fermer cette fenêtre.\n";
static_assert(sizeof DOUBLECLIC <= 256, "message() takes 256 characters");

static size_t enutf8(char *, char32_t);
static char *versutf8(const wchar_t *);
static wchar_t *versutf16(const char *);
static bool consoleapart();
static void attendre();
static int ouvrir(const char *, DWORD, DWORD, int);

/* The C runtime's own Unicode argument vector, split as argv is. */
extern "C" int __wgetmainargs(int *, wchar_t ***, wchar_t ***, int, int *);

/* Write c as UTF-8 at d; returns its length. */
static size_t
enutf8(char *d, char32_t c)
{
	if (c < 0x80) {
		d[0] = (char)c;
		return 1;
	}
	if (c < 0x800) {
		d[0] = (char)(0xc0 | c >> 6);
		d[1] = (char)(0x80 | (c & 0x3f));
		return 2;
	}
	if (c < 0x10000) {
		d[0] = (char)(0xe0 | c >> 12);
		d[1] = (char)(0x80 | (c >> 6 & 0x3f));
		d[2] = (char)(0x80 | (c & 0x3f));
		return 3;
	}
	d[0] = (char)(0xf0 | c >> 18);
	d[1] = (char)(0x80 | (c >> 12 & 0x3f));
	d[2] = (char)(0x80 | (c >> 6 & 0x3f));
	d[3] = (char)(0x80 | (c & 0x3f));
	return 4;
}

/*
 * A Windows name as UTF-8; a lone surrogate, which Windows names may
 * hold, is encoded like any other character, so that the name comes back
 * whole.
 */
static char *
versutf8(const wchar_t *w)
{
	size_t n = std::wcslen(w);
	char *a = (char *)std::malloc(3 * n + 1), *d = a;

	if (a == nullptr)
		std::exit(1);
	for (size_t i = 0; i < n; i++) {
		char32_t c = w[i];
		if (c >= 0xd800 && c <= 0xdbff && w[i + 1] >= 0xdc00 &&
		    w[i + 1] <= 0xdfff)
			c = 0x10000 + ((c - 0xd800) << 10) + (w[++i] - 0xdc00);
		d += enutf8(d, c);
	}
	*d = '\0';
	return a;
}

/* The name back in UTF-16, for the wide calls of Windows. */
static wchar_t *
versutf16(const char *a)
{
	size_t n = std::strlen(a);
	auto *w = (wchar_t *)std::malloc((n + 1) * sizeof(wchar_t));
	auto *p = (const unsigned char *)a;
	wchar_t *d = w;

	if (w == nullptr)
		std::exit(1);
	while (*p != 0) {
		char32_t c = *p;
		int k = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4, i = 1;
		c &= k == 1 ? 0x7f : 0x7f >> k;
		for (; i < k && (p[i] & 0xc0) == 0x80; i++)
			c = c << 6 | (p[i] & 0x3f);
		p += i;
		if (c >= 0x10000) {
			*d++ = (wchar_t)(0xd800 + ((c - 0x10000) >> 10));
			c = 0xdc00 + ((c - 0x10000) & 0x3ff);
		}
		*d++ = (wchar_t)c;
	}
	*d = L'\0';
	return w;
}

/*
 * Whether korvum.exe runs alone in a console that shows its messages and
 * takes keys: Explorer gives a program it starts (a double click, a list
 * dropped on korvum.exe) a console of its own, which closes as soon as
 * the program ends. From cmd, PowerShell or a batch file the shell shares
 * the console; from a script whose standard streams are files or pipes
 * there is nothing to keep open.
 */
static bool
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
 * can be read. Keys typed before the question do not answer it; Shift,
 * Ctrl and Alt alone do not either, and Ctrl+C is a key like any other,
 * so that the exit status stays the run's.
 */
static void
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
 * Take the arguments in Unicode, as Windows holds them, and hand them
 * over in UTF-8 like a POSIX system; standard error gets each message's
 * bytes as they are, LF alone. Started in a console of its own,
 * korvum.exe waits for a key at exit, whichever way it ends.
 */
void
preparer(int *argc, char ***argv)
{
	wchar_t **w, **env;
	int mode = 0;

	_setmode(2, _O_BINARY);
	if (__wgetmainargs(argc, &w, &env, 0, &mode) < 0)
		std::exit(1);
	auto **a = (char **)std::malloc(((size_t)*argc + 1) * sizeof(char *));
	if (a == nullptr)
		std::exit(1);
	for (int i = 0; i < *argc; i++)
		a[i] = versutf8(w[i]);
	a[*argc] = nullptr;
	*argv = a;
	if (consoleapart())
		(void)std::atexit(attendre);
}

/* A file opened by its Unicode name, as a binary descriptor. */
static int
ouvrir(const char *nom, DWORD acces, DWORD creation, int mode)
{
	wchar_t *w = versutf16(nom);
	HANDLE h = CreateFileW(w, acces, FILE_SHARE_READ | FILE_SHARE_WRITE,
	    nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
	std::free(w);
	if (h == INVALID_HANDLE_VALUE)
		return -1;
	int fd = _open_osfhandle((intptr_t)h, mode | _O_BINARY);
	if (fd < 0)
		CloseHandle(h);
	return fd;
}

/* Open the source; a folder is not a source (Windows will not open it). */
int
ouvrirsource(const char *nom)
{
	return ouvrir(nom, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

/*
 * Whether the name designates the open source file itself, by the file's
 * identity: any spelling, case or hard link of it.
 */
bool
memefichier(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	HANDLE h = (HANDLE)_get_osfhandle(entree);

	if (GetFileType(h) != FILE_TYPE_DISK ||
	    !GetFileInformationByHandle(h, &a))
		return false;
	wchar_t *w = versutf16(nom);
	HANDLE t = CreateFileW(w, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	std::free(w);
	if (t == INVALID_HANDLE_VALUE)
		return false;
	bool meme = GetFileInformationByHandle(t, &b) &&
	            a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	            a.nFileIndexHigh == b.nFileIndexHigh &&
	            a.nFileIndexLow == b.nFileIndexLow;
	CloseHandle(t);
	return meme;
}

/* Create or empty the target. */
int
ouvrirbut(const char *nom)
{
	int fd = ouvrir(nom, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY);

	if (fd >= 0)
		sortiefichier =
		    GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK;
	return fd;
}

/*
 * Read up to n bytes of the source, their number in *lus (0 at its end);
 * false when the read fails.
 */
bool
lire(char *p, size_t n, size_t *lus)
{
	int r = _read(entree, p, (unsigned)n);

	*lus = r < 0 ? 0 : (size_t)r;
	return r >= 0;
}

/* Write all n bytes to the target; false when it will not take them. */
bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		int r =
		    _write(sortie, p, n > (1u << 30) ? 1u << 30 : (unsigned)n);
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
bool
fermer(int fd)
{
	return _close(fd) == 0;
}

/*
 * Empty the target, so that no half document is left behind; a device is
 * left alone.
 */
void
tronquer()
{
	if (sortiefichier)
		(void)_chsize(sortie, 0);
}

/*
 * Write one message in a single write; nothing can be done if it fails.
 * A console takes it in Unicode, so that it reads right in any code page;
 * a file or a pipe gets the bytes of code page 850, the French console's.
 * Whether standard error is a console is asked once.
 */
void
message(const char *m, size_t n)
{
	static int console = -1;
	HANDLE h = (HANDLE)_get_osfhandle(canal);
	wchar_t w[256];
	char o[256];
	DWORD mode;
	int k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 256);

	if (console < 0)
		console = GetConsoleMode(h, &mode) ? 1 : 0;
	if (console == 1) {
		(void)WriteConsoleW(h, w, (DWORD)k, &mode, nullptr);
		return;
	}
	k = WideCharToMultiByte(850, 0, w, k, o, sizeof o, nullptr, nullptr);
	(void)_write(canal, o, (unsigned)k);
}
