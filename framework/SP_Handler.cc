#include "framework/SP_Handler.h"

#include "framework/SP_OutMessage.h"

void SP_DefaultCompletionHandler::onMessageDone(SP_OutMessage* message) { delete message; }

SP_CompletionHandler* SP_HandlerFactory::newCompletionHandler() { return new SP_DefaultCompletionHandler(); }
