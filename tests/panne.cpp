// Loaded into korvum with LD_PRELOAD to make the system fail where a real
// disk or network file system can fail but a test machine does not:
//   KORVUM_PANNE_LECTURE=N    read() fails with EIO once N bytes were read;
//   KORVUM_PANNE_FERMETURE=1  close() of a file open for writing reports
//                             EIO (after closing it, as Linux does);
//   KORVUM_PANNE_COURTE=1     the first write() to a file takes only half
//                             of its bytes, as a full pipe or a signal may;
//   KORVUM_PANNE_EINTR=1      the first read() and the first write() of a
//                             file fail with EINTR, as when a signal comes;
//   KORVUM_PANNE_MORCEAU=N    each read() of a file takes at most N bytes,
//                             as a pipe may hand them over;
//   KORVUM_PANNE_PLEIN=N      the disk is full once N bytes were written
//                             to files: write() fails with ENOSPC;
//   KORVUM_PANNE_SIGNAL=S     signal S comes to the process right after
//                             the first write() to a file, as Ctrl+C in
//                             the middle;
//   KORVUM_PANNE_DOSSIER=A:B  the folder A is renamed B right before
//                             the first write() to a file, as by
//                             someone else in the middle of the run;
//   KORVUM_PANNE_RENOMMAGE=1  rename() and renameat() fail with EIO;
//   KORVUM_PANNE_PROVISOIRE=1 openat() fails with EACCES where it would
//                             create a file, as in a folder that takes
//                             no new file;
//   KORVUM_PANNE_ANONYME=1    openat() refuses O_TMPFILE (EOPNOTSUPP),
//                             as file systems without unnamed files do;
//   KORVUM_PANNE_PROC=1       linkat() finds no /proc (ENOENT), as where
//                             none is mounted;
//   KORVUM_PANNE_SYNC=N       from the Nth call on, fsync() and
//                             fdatasync() fail with EIO;
//   KORVUM_PANNE_DOSSIERLU=1  open() of a folder to be read fails with
//                             EACCES, as for a folder one may write in
//                             but not read (root may read any);
//   KORVUM_PANNE_JOURNAL=F    the calls that put a document in place are
//                             noted in the file F, one a line, in their
//                             order: "sync fichier", "sync dossier",
//                             "linkat", "renameat", "rename", "unlinkat".
// Standard streams (0 to 2) are not touched but by the first two.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The number in the variable, or -1 when it is not set.
static long long
nombre(const char *variable)
{
	const char *v = std::getenv(variable);
	return v != nullptr ? std::strtoll(v, nullptr, 10) : -1;
}

// Note the call quoi in the journal, with the system's own calls, so that
// the journal goes through none of these.
static void
noter(const char *quoi)
{
	const char *f = std::getenv("KORVUM_PANNE_JOURNAL");
	if (f == nullptr)
		return;
	int fd = (int)syscall(
	    SYS_openat, AT_FDCWD, f, O_WRONLY | O_CREAT | O_APPEND, 0644);
	(void)syscall(SYS_write, fd, quoi, std::strlen(quoi));
	(void)syscall(SYS_write, fd, "\n", 1);
	(void)syscall(SYS_close, fd);
}

// A sync of fd: noted, and failed with EIO when KORVUM_PANNE_SYNC says so.
static bool
synchro(int fd)
{
	static long long n = 0, panne = nombre("KORVUM_PANNE_SYNC");
	struct stat st;
	noter(fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? "sync dossier"
	                                                 : "sync fichier");
	if (panne > 0 && ++n >= panne) {
		errno = EIO;
		return false;
	}
	return true;
}

// Rename the folder as KORVUM_PANNE_DOSSIER says, once.
static void
deplacer()
{
	static const char *v = std::getenv("KORVUM_PANNE_DOSSIER");
	const char *deux = v != nullptr ? std::strchr(v, ':') : nullptr;
	if (deux == nullptr)
		return;
	std::string de(v, deux);
	(void)syscall(SYS_renameat, AT_FDCWD, de.c_str(), AT_FDCWD, deux + 1);
	v = nullptr;
}

// Whether open() or openat() with these options creates a file, and so
// takes a mode; and that mode, the next argument.
static bool
cree(int options)
{
	return (options & O_CREAT) != 0 || (options & O_TMPFILE) == O_TMPFILE;
}

static mode_t
mode_de(va_list a)
{
	// (the analyzer does not see the caller's va_start)
	// NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
	return (mode_t)va_arg(a, int);
}

extern "C" {

ssize_t
read(int fd, void *p, size_t n)
{
	static auto vrai =
	    (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
	static long long reste = nombre("KORVUM_PANNE_LECTURE");
	static bool coupe = std::getenv("KORVUM_PANNE_EINTR") != nullptr;
	static long long morceau = nombre("KORVUM_PANNE_MORCEAU");
	if (fd > 2 && coupe) {
		coupe = false;
		errno = EINTR;
		return -1;
	}
	if (fd > 2 && morceau > 0 && (long long)n > morceau)
		n = (size_t)morceau;
	if (reste >= 0) {
		if (reste == 0) {
			errno = EIO;
			return -1;
		}
		if ((long long)n > reste)
			n = (size_t)reste;
	}
	ssize_t r = vrai(fd, p, n);
	if (reste >= 0 && r > 0)
		reste -= r;
	return r;
}

ssize_t
write(int fd, const void *p, size_t n)
{
	static auto vrai =
	    (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
	static bool courte = std::getenv("KORVUM_PANNE_COURTE") != nullptr;
	static bool coupe = std::getenv("KORVUM_PANNE_EINTR") != nullptr;
	static long long place = nombre("KORVUM_PANNE_PLEIN");
	static int signal = (int)nombre("KORVUM_PANNE_SIGNAL");
	if (fd > 2)
		deplacer();
	if (fd > 2 && coupe) {
		coupe = false;
		errno = EINTR;
		return -1;
	}
	if (fd > 2 && courte && n > 1) {
		courte = false;
		n /= 2;
	}
	if (fd > 2 && place >= 0) {
		if (place == 0) {
			errno = ENOSPC;
			return -1;
		}
		if ((long long)n > place)
			n = (size_t)place;
	}
	ssize_t r = vrai(fd, p, n);
	if (fd > 2 && place >= 0 && r > 0)
		place -= r;
	if (fd > 2 && signal > 0) {
		(void)kill(getpid(), signal); // to the process, as Ctrl+C
		signal = 0;
	}
	return r;
}

int
close(int fd)
{
	static auto vrai = (int (*)(int))dlsym(RTLD_NEXT, "close");
	int mode = fcntl(fd, F_GETFL);
	int r = vrai(fd);
	if (r == 0 && mode >= 0 && (mode & O_ACCMODE) != O_RDONLY &&
	    std::getenv("KORVUM_PANNE_FERMETURE") != nullptr) {
		errno = EIO;
		return -1;
	}
	return r;
}

int
rename(const char *de, const char *vers)
{
	static auto vrai =
	    (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
	noter("rename");
	if (std::getenv("KORVUM_PANNE_RENOMMAGE") != nullptr) {
		errno = EIO;
		return -1;
	}
	return vrai(de, vers);
}

int
renameat(int d, const char *de, int dv, const char *vers)
{
	static auto vrai = (int (*)(int, const char *, int, const char *))dlsym(
	    RTLD_NEXT, "renameat");
	noter("renameat");
	if (std::getenv("KORVUM_PANNE_RENOMMAGE") != nullptr) {
		errno = EIO;
		return -1;
	}
	return vrai(d, de, dv, vers);
}

int
linkat(int d, const char *de, int dv, const char *vers, int options)
{
	static auto vrai = (int (*)(int, const char *, int, const char *,
	    int))dlsym(RTLD_NEXT, "linkat");
	noter("linkat");
	if (std::getenv("KORVUM_PANNE_PROC") != nullptr &&
	    std::strncmp(de, "/proc/", 6) == 0) {
		errno = ENOENT;
		return -1;
	}
	return vrai(d, de, dv, vers, options);
}

int
unlinkat(int d, const char *nom, int options)
{
	static auto vrai =
	    (int (*)(int, const char *, int))dlsym(RTLD_NEXT, "unlinkat");
	noter("unlinkat");
	return vrai(d, nom, options);
}

int
open(const char *nom, int options, ...)
{
	static auto vrai =
	    (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
	va_list a;
	va_start(a, options);
	mode_t mode = cree(options) ? mode_de(a) : 0;
	va_end(a);
	if ((options & O_DIRECTORY) != 0 && (options & O_PATH) == 0 &&
	    std::getenv("KORVUM_PANNE_DOSSIERLU") != nullptr) {
		errno = EACCES;
		return -1;
	}
	return vrai(nom, options, mode);
}

int
openat(int d, const char *nom, int options, ...)
{
	static auto vrai =
	    (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
	va_list a;
	va_start(a, options);
	mode_t mode = cree(options) ? mode_de(a) : 0;
	va_end(a);
	if (cree(options) &&
	    std::getenv("KORVUM_PANNE_PROVISOIRE") != nullptr) {
		errno = EACCES;
		return -1;
	}
	if ((options & O_TMPFILE) == O_TMPFILE &&
	    std::getenv("KORVUM_PANNE_ANONYME") != nullptr) {
		errno = EOPNOTSUPP;
		return -1;
	}
	return vrai(d, nom, options, mode);
}

int
fsync(int fd)
{
	static auto vrai = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
	return synchro(fd) ? vrai(fd) : -1;
}

int
fdatasync(int fd)
{
	static auto vrai = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
	return synchro(fd) ? vrai(fd) : -1;
}
}
