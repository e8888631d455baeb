// Loaded into korvum with LD_PRELOAD to make the system fail where a real
// disk or network file system can fail but a test machine does not:
//   KORVUM_PANNE_LECTURE=N    read() fails with EIO once N bytes were read;
//   KORVUM_PANNE_FERMETURE=1  close() of a file open for writing reports
//                             EIO (after closing it, as Linux does).
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" {

ssize_t
read(int fd, void *p, size_t n)
{
	static auto vrai =
	    (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
	static long long reste = [] {
		const char *v = std::getenv("KORVUM_PANNE_LECTURE");
		return v != nullptr ? std::strtoll(v, nullptr, 10) : -1;
	}();
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

int
close(int fd)
{
	static auto vrai = (int (*)(int))dlsym(RTLD_NEXT, "close");
	int mode = fcntl(fd, F_GETFL);
	int r = vrai(fd);
	if (r == 0 && mode >= 0 && (mode & O_ACCMODE) == O_WRONLY &&
	    std::getenv("KORVUM_PANNE_FERMETURE") != nullptr) {
		errno = EIO;
		return -1;
	}
	return r;
}
}
