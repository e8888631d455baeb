/*
 * The system, on POSIX systems: the standard streams, opening, reading,
 * writing and closing the two files, telling whether two names are one
 * file, putting a whole document in the target's place, and writing a
 * message.  The arguments are taken as they are.
 */

#include "extern.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

/* The signals that end a run, after which no temporary file may stay. */
static const int FINS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

static pthread_mutex_t verrou = PTHREAD_MUTEX_INITIALIZER; /* the writer's */
static pthread_cond_t reveil = PTHREAD_COND_INITIALIZER;
static void (*corps)();    /* what the writer's thread runs */
static bool sortiefichier; /* the target is a regular file written in place */
static char *provisoire;   /* the temporary file, until it takes its place */
static char *cible;        /* the name whose file it replaces */
static bool existait;      /* that file was there, with this status: */
static struct stat ancien; /* its owner and mode */
static char retenus[8192]; /* warnings not yet written */
static size_t nretenus;

static int creerprovisoire(const char *, bool);
static void oublier();
static void masquer(bool);
static sigset_t *lesfins(sigset_t *);
static void effacer(int);
static void *fil(void *);

/*
 * Make sure the files cannot land on a closed standard stream, where
 * messages would be written into them; let a file size limit fail a
 * write instead of killing the process; and let a pipe that no one reads
 * any more (2>&1 | head) lose a message, or fail a write to the target,
 * instead of ending the conversion.  The arguments are taken as they are.
 */
void
preparer(int *, char ***)
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
	(void)signal(SIGPIPE, SIG_IGN);
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

/*
 * Open the target.  A regular file with a single name, or a name where
 * there is nothing yet, is written as a temporary file beside it, which
 * takes its place only once the document is whole (fermerbut), so that a
 * failure leaves it as it was; such a target must still be one that
 * could be opened for writing.  Any other target (a device, a pipe, a
 * file with several names, which a new file would part) is written in
 * place, created or emptied, and so is a target whose folder will not
 * take a temporary file.
 */
int
ouvrirbut(const char *nom)
{
	struct stat st;
	int fd = -1;

	existait = lstat(nom, &st) == 0;
	if (!existait && errno == ENOENT && *nom != '\0')
		fd = creerprovisoire(nom, false);
	else if (existait && stat(nom, &ancien) == 0 &&
	         S_ISREG(ancien.st_mode) && ancien.st_nlink == 1) {
		if ((fd = open(nom, O_WRONLY | O_NONBLOCK | O_NOCTTY)) < 0)
			return -1;
		(void)close(fd);
		fd = creerprovisoire(nom, S_ISLNK(st.st_mode));
	}
	if (fd >= 0)
		return fd;
	fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (fd >= 0)
		sortiefichier = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/*
 * Make the temporary file that stands for the target until the document
 * is whole: korvum-XXXXXX.tmp, in the folder of the file that the target
 * names (through a symbolic link when lien), created exclusively (never
 * through a name or a link already there) and readable by its owner
 * only.  Its descriptor, or -1 when the folder will not take it.  From
 * then on, a signal that ends the run removes it first.
 */
static int
creerprovisoire(const char *nom, bool lien)
{
	static const char MODELE[] = "korvum-XXXXXX.tmp";
	char *c = lien ? realpath(nom, nullptr) : strdup(nom), *t;
	const char *barre;
	size_t d;
	int fd;

	if (c == nullptr)
		return -1;
	barre = std::strrchr(c, '/');
	d = barre == nullptr ? 0 : (size_t)(barre - c) + 1;
	if ((t = (char *)std::malloc(d + sizeof MODELE)) == nullptr) {
		std::free(c);
		return -1;
	}
	std::memcpy(t, c, d);
	std::memcpy(t + d, MODELE, sizeof MODELE);
	masquer(true);
	if ((fd = mkstemps(t, 4)) >= 0) {
		provisoire = t;
		cible = c;
		for (int sig : FINS) {
			struct sigaction sa = {}, avant;
			sa.sa_handler = effacer;
			sa.sa_flags = (int)SA_RESETHAND;
			sigemptyset(&sa.sa_mask);
			if (sigaction(sig, nullptr, &avant) == 0 &&
			    avant.sa_handler != SIG_IGN)
				(void)sigaction(sig, &sa, nullptr);
		}
	}
	masquer(false);
	if (fd < 0) {
		std::free(t);
		std::free(c);
	}
	return fd;
}

/*
 * The temporary file is gone, in the target's place or removed: forget
 * its name (while the signals that end a run are held back).
 */
static void
oublier()
{
	std::free(provisoire);
	std::free(cible);
	provisoire = cible = nullptr;
}

/*
 * Hold back the signals that end a run (tenir), or let them through
 * again, while the temporary file comes and goes: the handler then sees
 * it either whole or not at all.
 */
static void
masquer(bool tenir)
{
	static sigset_t avant;
	sigset_t fins;

	if (!tenir) {
		(void)pthread_sigmask(SIG_SETMASK, &avant, nullptr);
		return;
	}
	(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), &avant);
}

/*
 * Hold back the signals that end a run in the calling thread, for good:
 * the writer's, so that they come to the run's own thread, which holds
 * them back while the temporary file comes and goes (see masquer).
 */
void
tenirfins()
{
	sigset_t fins;

	(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), nullptr);
}

/*
 * Start a thread that runs f and is never waited for; false when the
 * system gives none.
 */
bool
lancer(void (*f)())
{
	pthread_t t;

	corps = f;
	if (pthread_create(&t, nullptr, fil, nullptr) != 0)
		return false;
	(void)pthread_detach(t);
	return true;
}

/* The thread lancer starts. */
static void *
fil(void *)
{
	corps();
	return nullptr;
}

/*
 * The lock the run and the writer share, and the wait for the other's
 * news, made with that lock held, and the news.
 */
void
verrouiller()
{
	pthread_mutex_lock(&verrou);
}

void
deverrouiller()
{
	pthread_mutex_unlock(&verrou);
}

void
patienter()
{
	pthread_cond_wait(&reveil, &verrou);
}

void
eveiller()
{
	pthread_cond_broadcast(&reveil);
}

/* The signals that end a run, in *s. */
static sigset_t *
lesfins(sigset_t *s)
{
	sigemptyset(s);
	for (int sig : FINS)
		sigaddset(s, sig);
	return s;
}

/*
 * A signal ends the run: remove the temporary file, then end as the
 * signal would have (its handler is the default again).
 */
static void
effacer(int sig)
{
	if (provisoire != nullptr)
		(void)unlink(provisoire);
	(void)raise(sig);
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
 * Close the target.  A temporary file first takes the owner (where the
 * user may give it) and the mode of the file it replaces, or for a new
 * target the mode that creating it would give; then, closed, it takes the
 * target's place.  False when the close or the renaming fails: the
 * temporary file is then still there, for renoncer.
 */
bool
fermerbut()
{
	mode_t masque;
	bool ok;

	if (provisoire != nullptr && existait) {
		(void)!fchown(sortie, ancien.st_uid, ancien.st_gid);
		(void)!fchmod(sortie, ancien.st_mode & 07777);
	} else if (provisoire != nullptr) {
		masque = umask(0);
		(void)umask(masque);
		(void)!fchmod(sortie, 0666 & ~masque);
	}
	if (!fermer(sortie))
		return false;
	if (provisoire == nullptr)
		return true;
	masquer(true);
	if ((ok = std::rename(provisoire, cible) == 0))
		oublier();
	masquer(false);
	return ok;
}

/*
 * Give up the document: remove the temporary file, so that the target
 * keeps what it held; empty a regular target written in place, so that no
 * half document passes for a whole one; leave a device alone.
 */
void
renoncer()
{
	if (provisoire != nullptr) {
		masquer(true);
		(void)unlink(provisoire);
		oublier();
		masquer(false);
	} else if (sortie >= 0 && sortiefichier)
		(void)!ftruncate(sortie, 0);
}

/*
 * Write one message in a single write, after the warnings held; nothing
 * can be done if it fails.
 */
void
message(const char *m, size_t n)
{
	lacher();
	(void)!write(canal, m, n);
}

/*
 * A warning: written at once to a terminal, where someone watches;
 * otherwise held with others and written whole messages at a time, so
 * that a list with a warning a line costs no system call a line.
 */
void
retenir(const char *m, size_t n)
{
	static int terminal = -1;

	if (terminal < 0)
		terminal = isatty(canal);
	if (terminal == 1 || n > sizeof retenus) {
		message(m, n);
		return;
	}
	if (n > sizeof retenus - nretenus)
		lacher();
	std::memcpy(retenus + nretenus, m, n);
	nretenus += n;
}

/* Write the warnings held. */
void
lacher()
{
	if (nretenus > 0)
		(void)!write(canal, retenus, nretenus);
	nretenus = 0;
}
