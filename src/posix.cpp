/*
 * The system, on POSIX systems: the standard streams, opening, reading,
 * writing and closing the two files, telling whether two names are one
 * file, and writing a message.  The arguments are taken as they are.
 */

#include "extern.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

static bool sortiefichier; /* the target is a regular file */

/*
 * Make sure the files cannot land on a closed standard stream, where
 * messages would be written into them; and let a file size limit fail
 * a write instead of killing the process.  The arguments are taken as
 * they are.
 */
void
preparer(int *, char ***)
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
}

/* Open the source; a folder is not a source. */
int
ouvrirsource(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_RDONLY);

	if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
		close(fd);
		fd = -1;
	}
	return fd;
}

/*
 * Whether the name designates the open source file itself, by device and
 * inode: any spelling, hard link or symbolic link of it.  Only a regular
 * source can be lost that way; a terminal or a device cannot.
 */
bool
memefichier(const char *nom)
{
	struct stat a, b;

	return fstat(entree, &a) == 0 && S_ISREG(a.st_mode) &&
	       stat(nom, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/*
 * Read up to n of the first bytes of the target to p, when it is a
 * regular file that is not empty, so that the caller can tell a document
 * from a list; 0 when there is no such file (none yet, an empty one, a
 * folder, a device, a pipe, which is not opened), -1 when it cannot be
 * read.
 */
long
debutbut(const char *nom, char *p, size_t n)
{
	struct stat st;
	size_t lus = 0;
	ssize_t r;
	int fd;

	if (stat(nom, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
		return 0;
	if ((fd = open(nom, O_RDONLY | O_NONBLOCK | O_NOCTTY)) < 0)
		return -1;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		n = 0;
	while (lus < n && (r = pread(fd, p + lus, n - lus, (off_t)lus)) != 0) {
		if (r < 0 && errno != EINTR) {
			close(fd);
			return -1;
		}
		lus += r < 0 ? 0 : (size_t)r;
	}
	close(fd);
	return (long)lus;
}

/* Create or empty the target. */
int
ouvrirbut(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);

	if (fd >= 0)
		sortiefichier = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/*
 * Read up to n bytes of the source, their number in *lus (0 at its end);
 * false when the read fails.
 */
bool
lire(char *p, size_t n, size_t *lus)
{
	ssize_t r;

	while ((r = read(entree, p, n)) < 0 && errno == EINTR)
		;
	*lus = r < 0 ? 0 : (size_t)r;
	return r >= 0;
}

/* Write all n bytes to the target; false when it will not take them. */
bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		ssize_t r = write(sortie, p, n);
		if (r < 0 && errno == EINTR)
			continue;
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
	return close(fd) == 0;
}

/*
 * Empty the target, so that no half document is left behind; a device is
 * left alone.
 */
void
tronquer()
{
	if (sortiefichier)
		(void)!ftruncate(sortie, 0);
}

/* Write one message in a single write; nothing can be done if it fails. */
void
message(const char *m, size_t n)
{
	(void)!write(canal, m, n);
}
