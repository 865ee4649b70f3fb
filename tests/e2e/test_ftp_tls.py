"""FTP over TLS: the real launcher against the cloud's TLS servers (AUTH TLS before USER and
protected data connections required, a certificate from a private CA) and a plain one."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import Cloud, CloudTest, message_boxes, read_text, require  # noqa: E402

REFUSED = ("Test Login Failed!\nInternetConnect error code: %s\n"
           "Check the network connection and the server's address, then try again.")


class FtpTls(CloudTest):
    def program_on(self, tls, mode, ca_file=True):
        log = os.path.join(self.content.tmp, "cloud-%s-%s-%s.log" % (tls, mode, ca_file))
        cloud = Cloud(self.content.info, log=log, tls=tls)
        self.addCleanup(cloud.stop)
        require(self, cloud.endpoints, "the cloud did not start (pyftpdlib with TLS, openssl)")
        p = self.program(cloud=cloud, default_config="Office")
        p.add_endpoints("FtpTls=%s\n" % mode + ("FtpCaFile=%s\n" % cloud.endpoints["ca"] if tls and ca_file else ""))
        return p, log

    def test_download_and_run_over_tls_and_plain_when_tried(self):
        # The TLS servers refuse USER before AUTH TLS and PASV before PROT P.
        for tls, mode in ((True, "required"), (True, "Try"), (False, "try")):
            with self.subTest(tls=tls, mode=mode):
                p, log = self.program_on(tls, mode)
                result = p.run(["sfx"])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
                self.assertEqual("AUTH TLS 234" in read_text(log), tls)

    def test_required_refuses_a_plain_server_and_an_unknown_ca(self):
        rows = ((False, True, "12157 Message: An error occurred in the secure channel support. "
                 "The server %s does not take AUTH TLS or PROT P, which FtpTls=required needs; "
                 "nothing was sent to it in clear text."),
                (True, False, "12045 Message: The certificate authority is invalid or incorrect "
                 "(SSL certificate problem: unable to get local issuer certificate)"))
        for tls, ca_file, reason in rows:
            with self.subTest(tls=tls):
                p, log = self.program_on(tls, "REQUIRED", ca_file)
                boxes = [text for _, _, text in message_boxes(p.run(commands="login\n").stdout)]
                host = p.content.endpoints["repository"]
                self.assertEqual(boxes, [REFUSED % (reason.replace("%s", host))])
                lines = read_text(log).splitlines()
                self.assertTrue([l for l in lines if " AUTH TLS " in l], lines)
                self.assertFalse([l for l in lines if " USER " in l or " PASS " in l], lines)
