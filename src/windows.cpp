/*
 * The system, on Windows: the arguments in Unicode, opening, reading,
 * writing and closing the two files by their Unicode names, telling
 * whether two names are one file, putting a whole document in the
 * target's place (console.cpp holds what korvum.exe says, and its console
 * of its own).
 */

#include "extern.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

static SRWLOCK verrou = SRWLOCK_INIT; /* the writer's */
static CONDITION_VARIABLE reveil = CONDITION_VARIABLE_INIT;
static void (*corps)();              /* what the writer's thread runs */
static bool sortiefichier;           /* the target is written in place */
static wchar_t *volatile provisoire; /* the temporary file, until placed */
static wchar_t *cible;               /* the target's full name */
static bool existait;                /* there was a file of that name, */
static DWORD attributs;              /* with these attributes */

static char *versutf8(const wchar_t *);
static wchar_t *versutf16(const char *);
static int ouvrir(const char *, DWORD, DWORD, int);
static wchar_t *complet(const wchar_t *);
static int creerprovisoire(const wchar_t *);
static BOOL WINAPI interrompre(DWORD);
static DWORD WINAPI fil(void *);

/* The C runtime's own Unicode argument vector, split as argv is. */
extern "C" int __wgetmainargs(int *, wchar_t ***, wchar_t ***, int, int *);

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
 * Take the arguments in Unicode, as Windows holds them, and hand them
 * over in UTF-8 like a POSIX system; standard error gets each message's
 * bytes as they are, LF alone.  Started in a console of its own,
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

/*
 * Read up to n of the first bytes of the target to p, when it is a file on
 * a disk that is not empty, so that the caller can tell a document from a
 * list; 0 when there is no such file (none yet, an empty one, a folder,
 * a device such as NUL or CON, which is not opened), -1 when it cannot be
 * read (another program holds it without sharing it, say).
 */
long
debutbut(const char *nom, char *p, size_t n)
{
	WIN32_FILE_ATTRIBUTE_DATA a;
	wchar_t *w = versutf16(nom);
	HANDLE h = INVALID_HANDLE_VALUE;
	DWORD lus = 0;
	long r = 0;

	if (GetFileAttributesExW(w, GetFileExInfoStandard, &a) &&
	    !(a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
	    (a.nFileSizeHigh != 0 || a.nFileSizeLow != 0)) {
		h = CreateFileW(w, GENERIC_READ,
		    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
		    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
		r = -1;
	}
	std::free(w);
	if (h == INVALID_HANDLE_VALUE)
		return r;
	r = 0;
	if (GetFileType(h) == FILE_TYPE_DISK)
		r = ReadFile(h, p, (DWORD)n, &lus, nullptr) ? (long)lus : -1;
	CloseHandle(h);
	return r;
}

/*
 * Open the target.  A file on a disk with a single name, or a name where
 * there is nothing yet, is written as a temporary file beside it, which
 * takes its place only once the document is whole (fermerbut), so that a
 * failure leaves it as it was; such a target must still be one that
 * could be opened for writing, and replaced: neither read-only (which
 * is checked, as Wine run by root would open it) nor held by another
 * program.  Any other target (a device such as NUL, a file with several
 * names, a link, which the probe opens itself) is written in place,
 * created or emptied, as is a target that another program holds open but
 * lets others write, and one whose folder will not take a temporary file.
 */
int
ouvrirbut(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION i = {};
	wchar_t *w = versutf16(nom);
	HANDLE h = CreateFileW(w, GENERIC_WRITE | DELETE,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	int fd = -1;

	existait = h != INVALID_HANDLE_VALUE;
	if (!existait && GetLastError() == ERROR_FILE_NOT_FOUND)
		fd = creerprovisoire(w);
	else if (existait) {
		bool disque = GetFileType(h) == FILE_TYPE_DISK &&
		              GetFileInformationByHandle(h, &i);
		CloseHandle(h);
		if (disque && (i.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
			std::free(w);
			return -1;
		}
		attributs = i.dwFileAttributes &
		            (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
		                FILE_ATTRIBUTE_SYSTEM |
		                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
		if (disque && i.nNumberOfLinks == 1 &&
		    !(i.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
			fd = creerprovisoire(w);
	}
	std::free(w);
	if (fd >= 0)
		return fd;
	fd = ouvrir(nom, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY);
	if (fd >= 0)
		sortiefichier =
		    GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK;
	return fd;
}

/*
 * The full path of a name, allocated; nullptr when there is none.  Both
 * names given to ReplaceFileW are full: Wine's wants a folder in each.
 */
static wchar_t *
complet(const wchar_t *w)
{
	DWORD n = GetFullPathNameW(w, 0, nullptr, nullptr), r = 0;
	auto *c = (wchar_t *)std::malloc((n + 1) * sizeof(wchar_t));

	if (n > 0 && c != nullptr)
		r = GetFullPathNameW(w, n + 1, c, nullptr);
	if (r == 0 || r > n) {
		std::free(c);
		return nullptr;
	}
	return c;
}

/*
 * Make the temporary file that stands for the target w until the
 * document is whole: korvum-XXXXXX.tmp in the target's folder, created
 * only where no file has that name.  Its descriptor, or -1 when the
 * folder will not take it.  From then on, Ctrl+C in the console removes
 * it first.
 */
static int
creerprovisoire(const wchar_t *w)
{
	static const wchar_t MODELE[] = L"korvum-XXXXXX.tmp";
	static const char CHIFFRES[] = "0123456789abcdefghijklmnopqrstuvwxyz";
	HANDLE h = INVALID_HANDLE_VALUE;
	wchar_t *c = complet(w), *t;
	size_t d;
	int fd;

	if (c == nullptr)
		return -1;
	for (d = std::wcslen(c); d > 0 && c[d - 1] != L'\\'; d--)
		;
	if ((t = (wchar_t *)std::malloc(d * sizeof(wchar_t) + sizeof MODELE)) ==
	    nullptr) {
		std::free(c);
		return -1;
	}
	std::memcpy(t, c, d * sizeof(wchar_t));
	std::memcpy(t + d, MODELE, sizeof MODELE);
	for (unsigned long essai = 0; h == INVALID_HANDLE_VALUE && essai < 100;
	     essai++) {
		unsigned long v = GetCurrentProcessId() * 2654435761ul +
		                  GetTickCount() + essai * 7919ul;
		for (size_t k = 0; k < 6; k++, v /= 36)
			t[d + 7 + k] = (wchar_t)CHIFFRES[v % 36];
		h = CreateFileW(t, GENERIC_WRITE,
		    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
		    FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE &&
		    GetLastError() != ERROR_FILE_EXISTS)
			break;
	}
	if (h == INVALID_HANDLE_VALUE ||
	    (fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY)) < 0) {
		if (h != INVALID_HANDLE_VALUE) {
			CloseHandle(h);
			DeleteFileW(t);
		}
		std::free(t);
		std::free(c);
		return -1;
	}
	provisoire = t;
	cible = c;
	SetConsoleCtrlHandler(interrompre, TRUE);
	return fd;
}

/*
 * Ctrl+C, Ctrl+Break or the console's closing ends the run: remove the
 * temporary file (Windows does so once its last handle is closed), then
 * let the process end as it would have.
 */
static BOOL WINAPI
interrompre(DWORD)
{
	wchar_t *t = provisoire;

	if (t != nullptr)
		DeleteFileW(t);
	return FALSE;
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
 * Close the target; a temporary file is first forced to the disk, so
 * that after a crash of the system the target holds either document
 * whole, and, closed, takes the target's place: ReplaceFileW keeps the
 * replaced file's attributes and security (the attributes are given
 * beforehand too, as Wine's keeps none), and a new target is not put
 * over a file that came meanwhile, and is written through to the disk.
 * A target written in place is not forced.  False when the sync, the
 * close or the placing fails: the temporary file is then still there,
 * for renoncer.
 */
bool
fermerbut()
{
	bool ok = provisoire == nullptr ||
	          FlushFileBuffers((HANDLE)_get_osfhandle(sortie));

	if (!fermer(sortie) || !ok)
		return false;
	if (provisoire == nullptr)
		return true;
	if (existait && attributs != 0)
		SetFileAttributesW(provisoire, attributs);
	ok = existait ? ReplaceFileW(cible, provisoire, nullptr,
	                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
	              : MoveFileExW(provisoire, cible, MOVEFILE_WRITE_THROUGH);
	if (ok)
		provisoire = nullptr;
	return ok;
}

/*
 * Give up the document: remove the temporary file, so that the target
 * keeps what it held; empty a file written in place, so that no half
 * document passes for a whole one; leave a device alone.
 */
void
renoncer()
{
	if (provisoire != nullptr) {
		if (sortie >= 0)
			fermer(sortie);
		sortie = -1;
		DeleteFileW(provisoire);
		provisoire = nullptr;
	} else if (sortie >= 0 && sortiefichier)
		(void)_chsize(sortie, 0);
}

/*
 * Nothing to hold back in the writer's thread: Ctrl+C comes to a thread
 * of its own.
 */
void
tenirfins()
{
}

/*
 * Start a thread that runs f and is never waited for; false when the
 * system gives none.
 */
bool
lancer(void (*f)())
{
	HANDLE h;

	corps = f;
	if ((h = CreateThread(nullptr, 0, fil, nullptr, 0, nullptr)) == nullptr)
		return false;
	CloseHandle(h);
	return true;
}

/* The thread lancer starts. */
static DWORD WINAPI
fil(void *)
{
	corps();
	return 0;
}

/*
 * The lock the run and the writer share, and the wait for the other's
 * news, made with that lock held, and the news.  Windows' own slim lock
 * and condition: a hand-over that finds no one waiting stays in the
 * process, where the POSIX threads of MinGW-w64 would go through kernel
 * objects each time.
 */
void
verrouiller()
{
	AcquireSRWLockExclusive(&verrou);
}

void
deverrouiller()
{
	ReleaseSRWLockExclusive(&verrou);
}

void
patienter()
{
	SleepConditionVariableSRW(&reveil, &verrou, INFINITE, 0);
}

void
eveiller()
{
	WakeAllConditionVariable(&reveil);
}
