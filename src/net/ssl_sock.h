// TLS under a connected socket client: after start_tls the socket's virtual
// operations read and write through TLS, so protocol code is unchanged.
// Decrypted bytes go through the same receive buffer as plain ones, a
// record at a time, so lines cost one SSL_read per buffer-full.
#pragma once

#include "net/sim_sock.h"

typedef struct ssl_st SSL;

class SSL_SimSock : public SockClient {
public:
    SSL_SimSock(int flags, char terminator, int user_word) : SockClient(flags, terminator, user_word) {}
    ~SSL_SimSock() override;

    // 1 when TLS is up, 0 on failure (the reason is on the error stream).
    int start_tls(const char* certificate_file, int level, int reserved = 0);

    // Over TLS, readable means data to read (or the peer's close), not any
    // record: a session ticket alone does not count, and the wait keeps to
    // the time it was given.
    int wait_readable(long seconds, long microseconds) override;

    int read(char* buffer, int n) override;
    int read_line(char* buffer, int capacity) override;
    int peek_byte(char& out) override;
    int peek(char* buffer, int n) override;
    int write(const char* data, int n) override;
    int close() override;
    int pending() override;
    int receive_more() override;

    char cipher_name[256] = "";
    SSL* ssl = nullptr;

protected:
    bool bytes_ready() override;

private:
    void end_tls();
    // One SSL_read into the empty receive buffer: >0 bytes, 0 close, -1
    // failure or time-out.
    long fill_tls_buffer();
    // What has arrived, without waiting, after the unread bytes: 1 when
    // data came (or the peer closed, or TLS failed: a read will say), 0 when
    // nothing but TLS's own records or part of one.
    int take_arrived();
    bool records_ready();
};

class SSL_SockClient : public SSL_SimSock {
public:
    SSL_SockClient(int flags, char terminator, int user_word) : SSL_SimSock(flags, terminator, user_word) {}
};

// Frees the process-wide TLS context; the next start_tls builds a new one.
void release_tls_context();
// How many times a TLS start found no context (tests look at it).
int tls_context_starts();
