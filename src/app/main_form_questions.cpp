// The main window's answers to the browser's questions: a login, and a
// certificate it does not trust.
#include "app/main_form.h"

#include "app/certificate_dialog.h"
#include "app/login_dialog.h"
#include "browse/browser_questions.h"
#include "settings/certificate_exceptions.h"

namespace framelog {

void TMainForm::WebBrowserAuthenticationRequired(AuthChallenge &challenge)
{
    challenge.answered = loginAsker ? loginAsker(challenge) : askLoginWithDialog(challenge, this);
}

void TMainForm::WebBrowserCertificateError(const CertificateFacts &facts, bool &accept)
{
    CertificateExceptions remembered;
    if (m_trustedCertificates.contains(facts.sha256) ||
        remembered.contains(facts.host, facts.sha256)) {
        accept = true;
        return;
    }
    accept = certificateAsker ? certificateAsker(facts) : askCertificateWithDialog(facts, this);
    // Kept for the next start; a failure to keep it is told, the page goes on.
    if (accept)
        remembered.add(facts.host, facts.sha256);
}

} // namespace framelog
