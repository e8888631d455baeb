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
//   KORVUM_PANNE_RENOMMAGE=1  rename() fails with EIO;
//   KORVUM_PANNE_PROVISOIRE=1 mkstemps() fails with EACCES, as in a
//                             folder that takes no new file.
// Standard streams (0 to 2) are not touched but by the first two.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// The number in the variable, or -1 when it is not set.
static long long
nombre(const char *variable)
{
	const char *v = std::getenv(variable);
	return v != nullptr ? std::strtoll(v, nullptr, 10) : -1;
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
	if (std::getenv("KORVUM_PANNE_RENOMMAGE") != nullptr) {
		errno = EIO;
		return -1;
	}
	return vrai(de, vers);
}

int
mkstemps(char *modele, int suffixe)
{
	static auto vrai = (int (*)(char *, int))dlsym(RTLD_NEXT, "mkstemps");
	if (std::getenv("KORVUM_PANNE_PROVISOIRE") != nullptr) {
		errno = EACCES;
		return -1;
	}
	return vrai(modele, suffixe);
}
}
