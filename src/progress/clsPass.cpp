#include "clsPass.h"

void clsPass::rethrowFailure()
{
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
}

void clsPass::HideProgBar() { emit HideProgBarEvent(); rethrowFailure(); }
void clsPass::SetActive() { emit Active(); rethrowFailure(); }
void clsPass::SetBarMaxValue(qint32 Value) { emit SetBarMaxValueEvent(Value); rethrowFailure(); }
void clsPass::SetBarMinValue(qint32 Value) { emit SetBarMinValueEvent(Value); rethrowFailure(); }
void clsPass::SetBarValue(qint32 Value) { emit SetBarValueEvent(Value); rethrowFailure(); }
void clsPass::SetBarValueWithMax() { emit SetBarValueWithMaxEvent(); rethrowFailure(); }
void clsPass::SetMsg(const QString &Msg) { emit SetMsgEvent(Msg); rethrowFailure(); }
void clsPass::ShowProgBar() { emit ShowProgBarEvent(); rethrowFailure(); }
void clsPass::Unload() { emit UnloadEvent(); rethrowFailure(); }
