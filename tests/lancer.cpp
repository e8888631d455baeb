#include "lancer.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

static const char SORTIESTD[] = "korvum.stdout";
static const char ERREURSTD[] = "korvum.stderr";

std::string
programme()
{
	const char *p = std::getenv("KORVUM");
	return p != nullptr && *p != '\0' ? p : KORVUM_PROGRAMME;
}

#ifdef _WIN32
// A name or an argument as Windows holds it, in UTF-16: read as UTF-8
// when it is well-formed, as windows-1252 otherwise, the way korvum reads
// its own arguments on POSIX systems.
static std::wstring
large(const std::string &s)
{
	UINT cp = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(),
	              (int)s.size(), nullptr, 0) > 0
	              ? CP_UTF8
	              : 1252;
	int n = MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), nullptr, 0);
	std::wstring w((size_t)n, L'\0');
	MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), w.data(), n);
	return w;
}

fs::path
chemin(const std::string &nom)
{
	return large(nom);
}
#else
fs::path
chemin(const std::string &nom)
{
	return nom;
}
#endif

std::string
lis(const std::string &nom)
{
	std::ifstream f(chemin(nom), std::ios::binary);
	std::ostringstream o;
	o << f.rdbuf();
	return o.str();
}

void
ecris(const std::string &nom, const std::string &octets)
{
	std::ofstream f(chemin(nom), std::ios::binary | std::ios::trunc);
	f.write(octets.data(), (std::streamsize)octets.size());
	if (!f.flush())
		throw std::runtime_error("cannot write " + nom);
}

bool
existe(const std::string &nom)
{
	std::error_code ec;
	return fs::exists(fs::symlink_status(chemin(nom), ec));
}

std::vector<std::string>
contenu(const std::string &dossier)
{
	std::vector<std::string> noms;
	for (const auto &e : fs::directory_iterator(chemin(dossier))) {
		std::u8string n = e.path().filename().u8string();
		noms.emplace_back(n.begin(), n.end());
	}
	std::sort(noms.begin(), noms.end());
	return noms;
}

void
nouveaudossier(const std::string &nom)
{
	fs::path d = fs::path(KORVUM_ESSAIS) / chemin(nom);
	fs::remove_all(d);
	fs::create_directories(d);
	fs::current_path(d);
}

#ifdef _WIN32

// One argument quoted the way the C runtime's start-up splits them.
static std::wstring
cite(const std::string &a)
{
	std::wstring r = L"\"";
	size_t barres = 0;
	for (wchar_t c : large(a)) {
		if (c == '\\') {
			barres++;
			continue;
		}
		r.append(c == '"' ? 2 * barres + 1 : barres, '\\');
		barres = 0;
		r += c;
	}
	r.append(2 * barres, '\\');
	return r + L"\"";
}

static HANDLE
heritable(const char *nom)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
	return CreateFileA(nom, GENERIC_WRITE, FILE_SHARE_READ, &sa,
	    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Issue
korvum(const std::vector<std::string> &args, const Panne &)
{
	std::wstring ligne = cite(programme());
	for (const auto &a : args)
		ligne += L" " + cite(a);

	SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
	HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &sa,
	    OPEN_EXISTING, 0, nullptr);
	HANDLE out = heritable(SORTIESTD), err = heritable(ERREURSTD);
	STARTUPINFOW si = {};
	si.cb = sizeof si;
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdInput = in;
	si.hStdOutput = out;
	si.hStdError = err;
	PROCESS_INFORMATION pi;
	std::vector<wchar_t> cmd(ligne.begin(), ligne.end());
	cmd.push_back(L'\0');
	// Wine, loaded by the other tests running beside this one, now and
	// then fails to start a process; a real Windows does not. Try again.
	for (int essai = 0; !CreateProcessW(nullptr, cmd.data(), nullptr,
	         nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
	     essai++) {
		if (essai == 5)
			throw std::runtime_error(
			    "cannot start " + programme() + ": error " +
			    std::to_string(GetLastError()));
		std::fprintf(stderr,
		    "starting korvum failed (error %lu), again\n",
		    GetLastError());
		Sleep(200);
	}
	WaitForSingleObject(pi.hProcess, INFINITE);
	DWORD code = 0;
	GetExitCodeProcess(pi.hProcess, &code);
	CloseHandle(pi.hProcess);
	CloseHandle(pi.hThread);
	CloseHandle(in);
	CloseHandle(out);
	CloseHandle(err);

	Issue r{(int)code, lis(ERREURSTD), lis(SORTIESTD)};
	std::remove(ERREURSTD);
	std::remove(SORTIESTD);
	return r;
}

#else

Issue
korvum(const std::vector<std::string> &args, const Panne &panne)
{
	std::string prog = programme();
	std::vector<char *> argv;
	argv.push_back(const_cast<char *>(prog.c_str()));
	for (const auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);

	pid_t pid = fork();
	if (pid < 0)
		throw std::runtime_error("fork");
	if (pid == 0) {
		int in = open("/dev/null", O_RDONLY);
		int out = open(SORTIESTD, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int err = open(ERREURSTD, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 ||
		    dup2(out, 1) < 0 || dup2(err, 2) < 0)
			_exit(126);
		close(in);
		close(out);
		close(err);
		for (int fd : panne.fermes)
			close(fd);
		for (int fd : panne.rompus) {
			int t[2];
			if (pipe(t) != 0 || close(t[0]) != 0 ||
			    dup2(t[1], fd) < 0)
				_exit(126);
			close(t[1]);
		}
		// Ctrl+C and SIGTERM end korvum as they would from a terminal,
		// whatever this process was started with.
		(void)signal(SIGINT, SIG_DFL);
		(void)signal(SIGTERM, SIG_DFL);
		if (panne.masque >= 0)
			umask((mode_t)panne.masque);
		for (const auto &e : panne.env)
			putenv(const_cast<char *>(e.c_str()));
		struct {
			int quoi;
			long long n;
		} limites[] = {
		    {RLIMIT_FSIZE, panne.fsize}, {RLIMIT_AS, panne.memoire}};
		for (auto l : limites) {
			struct rlimit rl = {(rlim_t)l.n, (rlim_t)l.n};
			if (l.n >= 0 && setrlimit(l.quoi, &rl) != 0)
				_exit(126);
		}
		execv(prog.c_str(), argv.data());
		_exit(127);
	}
	int st = 0;
	while (waitpid(pid, &st, 0) < 0)
		;
	Issue r{WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st),
	    lis(ERREURSTD), lis(SORTIESTD)};
	unlink(ERREURSTD);
	unlink(SORTIESTD);
	return r;
}

#endif
