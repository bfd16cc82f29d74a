#pragma once

#include <QHostAddress>
#include <QList>
#include <QStringList>

// The addresses of this machine that the other player could dial, best first.
namespace LocalAddresses {

// Every non-loopback address of this machine, best to give the other player first: IPv4,
// then global IPv6, then unique-local IPv6, and link-local addresses (usable only on the
// same network segment) last. Addresses of interfaces that are down are left out.
QStringList all();

// `addresses` in that order, loopback and repeated addresses dropped, as text.
QStringList ranked(const QList<QHostAddress> &addresses);

} // namespace LocalAddresses
